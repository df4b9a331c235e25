// The web page: the page built with this library (web/), which draws the
// figure live with the plug-in compiled into it, with the state it opens
// on filled in: the canvas's size, the clock, the controls and the framing
// as they stand when the frame is added. It plays on its own clock from
// there.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "output/output_file.h"
#include "output/writers.h"
#include "core/state.h"
#include "zelkori/core.h"

namespace zelkori {
namespace {

// Where the built page takes its opening state; it holds the defaults.
const char kOpeningSlot[] = "<script type=\"application/json\" id=\"morvakine-opening\">{}</script>";

// The shortest decimal that reads back as `value`.
std::string number(double value) {
    char text[32];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) {
            break;
        }
    }
    return text;
}

// The state the page opens on, as JSON.
std::string opening(int width, int height) {
    std::string json = "{\"width\":" + std::to_string(width) +
                       ",\"height\":" + std::to_string(height) +
                       ",\"time\":" + number(get_time()) + ",\"playing\":true,\"controls\":{";
    zk_control control;
    for (int i = 0; zk_control_at(i, &control); ++i) {
        json += (i > 0 ? ",\"" : "\"") + std::to_string(control.id) + "\":" + number(control.value);
    }
    const View &view = state().view;
    return json + "},\"view\":{\"zoom\":" + number(view.zoom) + ",\"x\":" + number(view.x) +
           ",\"y\":" + number(view.y) + "}}";
}

// The page as built, with its one opening slot at *slot.
bool read_page(std::string *page, size_t *slot, std::string *cause) {
    const std::string path = library_directory() + ZELKORI_PAGE_FILE;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *cause = "the web page was not built with this library (building it needs emscripten)";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    *page = text.str();
    *slot = page->find(kOpeningSlot);
    if (in.bad() || *slot == std::string::npos) {
        *cause = "cannot read the web page built with this library, " + path;
        return false;
    }
    return true;
}

class PageWriter : public Writer {
  public:
    PageWriter(const OpenRequest &request, const FrameReader &reader, std::string page,
               size_t slot)
        : request_(request), reader_(reader), page_(std::move(page)), slot_(slot) {}

    bool add(Failure *failure) override {
        int width = 0, height = 0;
        if (!frame_size(reader_, request_, "page", &width, &height, &failure->cause)) {
            return false;
        }
        opening_ = opening(width, height);
        return true;
    }

    bool close(Failure *failure) override {
        if (opening_.empty()) {
            failure->cause = kNoFrame;
            return false;
        }
        std::string script = std::string(kOpeningSlot);
        script.replace(script.find("{}"), 2, opening_);
        page_.replace(slot_, sizeof kOpeningSlot - 1, script);
        const char *cause = "";
        if (!zk_output_write(request_.path.c_str(), page_.data(), page_.size(), &cause)) {
            failure->cause = cause;
            return false;
        }
        return true;
    }

  private:
    const OpenRequest request_;
    const FrameReader &reader_;
    std::string page_;
    const size_t slot_;
    std::string opening_;
};

}  // namespace

WriterPtr open_page(const OpenRequest &request, const FrameReader &reader, Failure *failure) {
    std::string page;
    size_t slot = 0;
    if (!read_page(&page, &slot, &failure->cause)) {
        return nullptr;
    }
    return WriterPtr(new PageWriter(request, reader, std::move(page), slot));
}

}  // namespace zelkori
