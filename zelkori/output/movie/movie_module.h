// Movies are written by a module of their own that links FFmpeg, loaded
// when the first movie is opened: a PNG or a scene never loads the codecs.
#ifndef ZELKORI_MOVIE_MODULE_H
#define ZELKORI_MOVIE_MODULE_H

#include "output/writers.h"

#define ZELKORI_MOVIE_MODULE "libzelkori_movie.so"
#define ZELKORI_MOVIE_ENTRY "zelkori_open_movie"

// The module's one entry: open_movie's contract.
extern "C" zelkori::Writer *zelkori_open_movie(const zelkori::OpenRequest *request,
                                               const zelkori::FrameReader *reader,
                                               zelkori::Failure *failure);
typedef zelkori::Writer *(*ZelkoriOpenMovie)(const zelkori::OpenRequest *,
                                             const zelkori::FrameReader *, zelkori::Failure *);

#endif
