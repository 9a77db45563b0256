#include "engine/media_stream_facts.h"

#include <math.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace engine {

namespace {

bool FullRangeFormat(int format) {
  return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
         format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
         format == AV_PIX_FMT_YUVJ411P;
}

}  // namespace

// The picture's tags; what it leaves out is guessed by its size.
ColorDescription PictureColor(const AVFrame& picture) {
  ColorDescription color = GuessColorDescription(picture.width, picture.height);
  if (picture.color_range == AVCOL_RANGE_JPEG ||
      (picture.color_range == AVCOL_RANGE_UNSPECIFIED && FullRangeFormat(picture.format)))
    color.range = ColorRange::kFull;
  switch (picture.colorspace) {
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_SMPTE240M:  // BT.709's weights to three decimals
      color.matrix = ColorMatrix::kBt709;
      break;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_FCC:
      color.matrix = ColorMatrix::kBt601;
      break;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
      color.matrix = ColorMatrix::kBt2020;
      break;
    default:
      break;  // unspecified, or a matrix the renderer has not: the guess
  }
  return color;
}

// Quarter turns clockwise from the stream's display matrix, which states
// the turn counterclockwise; a turn between quarters goes to the nearest.
int StreamRotation(const AVStream& stream) {
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
  const AVPacketSideData* side_data =
      av_packet_side_data_get(stream.codecpar->coded_side_data, stream.codecpar->nb_coded_side_data,
                              AV_PKT_DATA_DISPLAYMATRIX);
  const uint8_t* matrix = side_data != nullptr ? side_data->data : nullptr;
  const size_t size = side_data != nullptr ? side_data->size : 0;
#else
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
#endif
  if (matrix == nullptr || size < 9 * sizeof(int32_t))
    return 0;
  const double counterclockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (!isfinite(counterclockwise))
    return 0;
  const long quarters = lround(-counterclockwise / 90) % 4;
  return static_cast<int>((quarters + 4) % 4) * 90;
}

char Interlacing(AVFieldOrder order) {
  switch (order) {
    case AV_FIELD_PROGRESSIVE:
      return 'p';
    case AV_FIELD_TT:
    case AV_FIELD_TB:
      return 't';
    case AV_FIELD_BB:
    case AV_FIELD_BT:
      return 'b';
    default:
      return '?';
  }
}

int64_t PictureDuration(const AVFrame& picture) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 2, 100)
  return picture.duration;
#else
  return picture.pkt_duration;
#endif
}

}  // namespace engine
