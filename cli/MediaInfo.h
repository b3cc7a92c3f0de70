// What the tool learns from a file's bytes: its content type (libmagic) and, for images, the
// metadata the import stores (Exiv2).
#ifndef VENDRITHANE_CLI_MEDIAINFO_H
#define VENDRITHANE_CLI_MEDIAINFO_H

#include <optional>
#include <string>
#include <vector>

namespace vdcli {

// The MIME type of the bytes ("application/octet-stream" when libmagic cannot tell).
std::string mimeType(const unsigned char* bytes, size_t size);

// Image metadata; each field only when the file has it.
struct ImageInfo {
  std::optional<std::string> taken;   // Exif DateTimeOriginal, "YYYY:MM:DD HH:MM:SS"
  std::optional<std::string> camera;  // make and model
  std::optional<int> width, height, orientation;
  std::optional<std::string> keywords;   // IPTC keywords and XMP subjects, "; "-joined
  std::vector<unsigned char> thumbnail;  // the embedded Exif preview (JPEG), empty if none
};

// The metadata of an image's bytes; nothing when Exiv2 cannot read them.
ImageInfo imageInfo(const unsigned char* bytes, size_t size);

}  // namespace vdcli

#endif  // VENDRITHANE_CLI_MEDIAINFO_H
