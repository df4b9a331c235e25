// Directories that took a file, flushed by whoever wrote the files: each
// output keeps its own, so that a directory one output cannot flush fails
// that output alone (output_file.cpp).
#ifndef ZELKORI_DIRECTORIES_H
#define ZELKORI_DIRECTORIES_H

#include <mutex>
#include <set>
#include <string>

namespace zelkori {

class DirectorySet {
  public:
    // Notes the directory of `path`, a file just renamed into place.
    void note(const std::string &path);
    // Flushes each directory noted since the last call to the disk, so that
    // the new names survive a crash. False with the first that fails and
    // its cause; the others are flushed all the same.
    bool sync(std::string *directory, std::string *error);

  private:
    std::mutex mutex_;
    std::set<std::string> directories_;
};

// While one lives, zk_output_commit on this thread notes into `set`
// instead of flushing the directory itself.
class CollectDirectories {
  public:
    explicit CollectDirectories(DirectorySet &set);
    ~CollectDirectories();
    CollectDirectories(const CollectDirectories &) = delete;
    CollectDirectories &operator=(const CollectDirectories &) = delete;

  private:
    DirectorySet *previous_;
};

}  // namespace zelkori

#endif
