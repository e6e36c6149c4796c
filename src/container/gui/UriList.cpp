#include "container/gui/UriList.h"

#include <climits>
#include <unistd.h>

#include "platform/TextUtils.h"

namespace driftpost {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A '%' that is not followed by two hexadecimal digits stays as it is.
std::string PercentDecoded(const std::string& text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    decoded += text[i];
  }
  return decoded;
}

std::string ThisHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

bool NamesThisMachine(const std::string& host) {
  if (host.empty() || SameText(host, "localhost")) return true;
  std::string own = ThisHostName();
  return !own.empty() && SameText(host, own);
}

// The local path of one URI, or an empty text when it names no local file.
std::string LocalPathOf(const std::string& uri) {
  constexpr std::size_t schemeLength = 5;  // "file:"
  if (uri.size() <= schemeLength || !SameText(uri.substr(0, schemeLength), "file:")) return std::string();
  std::string rest = uri.substr(schemeLength);
  // A query or a fragment is not part of the file's name.
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.compare(0, 2, "//") == 0) {
    std::size_t pathStart = rest.find('/', 2);
    if (pathStart == std::string::npos) return std::string();
    if (!NamesThisMachine(PercentDecoded(rest.substr(2, pathStart - 2)))) return std::string();
    rest.erase(0, pathStart);
  }
  std::string path = PercentDecoded(rest);
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) return std::string();
  return path;
}

}  // namespace

std::vector<std::string> LocalFilesOfUriList(const std::string& uriList) {
  std::vector<std::string> files;
  std::size_t start = 0;
  while (start < uriList.size()) {
    std::size_t end = uriList.find_first_of("\r\n", start);
    if (end == std::string::npos) end = uriList.size();
    std::string line = Trim(uriList.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    std::string path = LocalPathOf(line);
    if (!path.empty()) files.push_back(std::move(path));
  }
  return files;
}

}  // namespace driftpost
