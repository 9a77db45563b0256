#ifndef TOOLS_PLAYER_PNG_WRITER_H_
#define TOOLS_PLAYER_PNG_WRITER_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace player {

// Writes 0x00RRGGBB pixels, rows top first, as an 8-bit RGB PNG file.
// False, with the reason, on failure (no partial file is left).
bool WritePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height,
              std::string* error);

}  // namespace player

#endif  // TOOLS_PLAYER_PNG_WRITER_H_
