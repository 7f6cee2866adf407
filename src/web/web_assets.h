#pragma once

#include <span>
#include <string_view>

namespace ravdel {

// A file the page is made of, built into the program (cmake/RavdelEmbed.cmake): the page's own
// files and the chart library, so that the page asks no other host for anything.
struct WebAsset {
  std::string_view name;  // its address under the page's root: "index.html", "static/app.js"
  std::string_view type;  // its media type, text in UTF-8
  std::span<const unsigned char> bytes;
};

std::span<const WebAsset> webAssets();

}  // namespace ravdel
