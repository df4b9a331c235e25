// Background saves (zk_save_queue_* in zelkori/output.h) over any frame
// source, for callers that are not GL.
#ifndef ZELKORI_SAVE_QUEUE_H
#define ZELKORI_SAVE_QUEUE_H

#include "output/frame_reader.h"
#include "zelkori/output.h"

namespace zelkori {

// zk_save_queue_new with frames from `reader`; null when there is no
// memory.
zk_save_queue *new_save_queue(const FrameReader &reader);

}  // namespace zelkori

#endif
