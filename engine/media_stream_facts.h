#ifndef ENGINE_MEDIA_STREAM_FACTS_H_
#define ENGINE_MEDIA_STREAM_FACTS_H_

// What a container's stream and its decoded pictures say of themselves:
// colours, turn, interlacing, a picture's length.

#include <stdint.h>

#include "engine/color_description.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

struct AVStream;

namespace engine {

// The picture's tags; what it leaves out is guessed by its size.
ColorDescription PictureColor(const AVFrame& picture);
// Quarter turns clockwise (0, 90, 180, 270) from the stream's display
// matrix.
int StreamRotation(const AVStream& stream);
// 'p', 't', 'b' or '?' (engine/video_source.h, interlacing()).
char Interlacing(AVFieldOrder order);
// The picture's length in the stream's ticks, 0 when it does not say.
int64_t PictureDuration(const AVFrame& picture);

}  // namespace engine

#endif  // ENGINE_MEDIA_STREAM_FACTS_H_
