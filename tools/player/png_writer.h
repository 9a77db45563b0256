#ifndef TOOLS_PLAYER_PNG_WRITER_H_
#define TOOLS_PLAYER_PNG_WRITER_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace player {

// Writes 0x00RRGGBB pixels, rows top first, as an 8-bit RGB PNG file.
// The file is replaced whole or not at all: on failure, false with the
// reason, and whatever `path` held before stays.
bool WritePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height,
              std::string* error);

}  // namespace player

#endif  // TOOLS_PLAYER_PNG_WRITER_H_
