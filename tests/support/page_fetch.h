#pragma once

#include <httplib.h>

#include <string>

namespace ravdel::test {

// One GET of an address of the program's own page ("http://127.0.0.1:PORT/PATH"), as a browser
// would send it: the status, 0 when nothing answers on the port, and the body.
struct Fetched {
  int status = 0;
  std::string body;
};

inline Fetched fetchPage(const std::string& url) {
  const std::string scheme = "http://";
  const std::size_t pathStart = url.find('/', scheme.size());
  const std::size_t hash = url.find('#');
  httplib::Client client(url.substr(0, pathStart));
  client.set_connection_timeout(5);
  const std::string path =
      pathStart == std::string::npos ? "/" : url.substr(pathStart, hash - pathStart);
  const httplib::Result result = client.Get(path);
  if (!result) return {};
  return {result->status, result->body};
}

}  // namespace ravdel::test
