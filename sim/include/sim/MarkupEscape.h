#pragma once

// Escaping of text placed into SVG and HTML documents.

#include <string>

namespace velmora {
namespace sim {

/// `text` with the characters that markup gives a meaning to (& < > " ') replaced by their
/// character references, safe inside element content and quoted attribute values.
inline std::string escapeMarkup(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace sim
}  // namespace velmora
