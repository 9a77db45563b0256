#ifndef ENGINE_SQUARE_PIXELS_H_
#define ENGINE_SQUARE_PIXELS_H_

// Frames of non-square pixels (a y4m file's A tag, a container's sample
// aspect) scaled to square ones of the display shape, so that the picture
// keeps that shape in every window size and scale type: the renderer knows
// the frame's size, not its pixels' shape.

#include <memory>

#include "engine/video_source.h"

namespace engine {

// `source` itself when its pixels are square; otherwise a source of its
// frames scaled to the display width (the stored width times the pixel
// aspect), the height kept, with pixel_aspect() 1 and all else as
// `source` says.
std::unique_ptr<VideoSource> WithSquarePixels(std::unique_ptr<VideoSource> source);

}  // namespace engine

#endif  // ENGINE_SQUARE_PIXELS_H_
