// libmagic and Exiv2 behind two calls. The magic cookie is opened once per process.
#include "MediaInfo.h"

#include <magic.h>

#include <exiv2/exiv2.hpp>
#include <memory>

namespace vdcli {

namespace {

// The process's magic cookie, opened at first use; null when libmagic cannot load its data.
magic_t cookie() {
  static magic_t handle = [] {
    magic_t m = magic_open(MAGIC_MIME_TYPE);
    if (m != nullptr && magic_load(m, nullptr) != 0) {
      magic_close(m);
      m = nullptr;
    }
    return m;
  }();
  return handle;
}

std::optional<std::string> exifText(const Exiv2::ExifData& exif, const char* key) {
  auto it = exif.findKey(Exiv2::ExifKey(key));
  if (it == exif.end()) return std::nullopt;
  std::string text = it->toString();
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

std::string mimeType(const unsigned char* bytes, size_t size) {
  magic_t m = cookie();
  const char* type = m != nullptr ? magic_buffer(m, bytes, size) : nullptr;
  return type != nullptr ? type : "application/octet-stream";
}

ImageInfo imageInfo(const unsigned char* bytes, size_t size) {
  ImageInfo info;
  Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
  try {
    auto image = Exiv2::ImageFactory::open(bytes, static_cast<long>(size));
    if (image.get() == nullptr) return info;
    image->readMetadata();
    if (image->pixelWidth() > 0) info.width = image->pixelWidth();
    if (image->pixelHeight() > 0) info.height = image->pixelHeight();
    const Exiv2::ExifData& exif = image->exifData();
    info.taken = exifText(exif, "Exif.Photo.DateTimeOriginal");
    auto make = exifText(exif, "Exif.Image.Make");
    auto model = exifText(exif, "Exif.Image.Model");
    if (make && model)
      info.camera = model->compare(0, make->size(), *make) == 0 ? *model : *make + " " + *model;
    else if (make || model)
      info.camera = make ? *make : *model;
    auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != exif.end() && orientation->count() > 0)
      info.orientation = static_cast<int>(orientation->toLong());
    std::string keywords;
    std::vector<std::string> seen;  // IPTC and XMP often repeat each other
    auto add = [&](const std::string& word) {
      if (word.empty()) return;
      for (const std::string& w : seen)
        if (w == word) return;
      seen.push_back(word);
      if (!keywords.empty()) keywords += "; ";
      keywords += word;
    };
    for (const auto& datum : image->iptcData()) {
      if (datum.key() == "Iptc.Application2.Keywords") add(datum.toString());
    }
    for (const auto& datum : image->xmpData()) {
      if (datum.key() != "Xmp.dc.subject") continue;
      for (long i = 0; i < datum.count(); ++i) add(datum.toString(i));
    }
    if (!keywords.empty()) info.keywords = keywords;
    Exiv2::ExifThumbC thumb(exif);
    Exiv2::DataBuf data = thumb.copy();
    if (data.size_ > 0) info.thumbnail.assign(data.pData_, data.pData_ + data.size_);
  } catch (const std::exception&) {
    // not an image Exiv2 can read: no metadata
  }
  return info;
}

}  // namespace vdcli
