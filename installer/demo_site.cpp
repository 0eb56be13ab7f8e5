// The demo download site: serves a folder over HTTP on 127.0.0.1 until killed.
//   quorel_demo_site PORT FOLDER [URL_PREFIX]
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PORT FOLDER [URL_PREFIX]\n", argv[0]);
    return 2;
  }
  int port = std::atoi(argv[1]);
  std::string prefix = argc > 3 ? argv[3] : "/quorel/";
  httplib::Server server;
  if (!server.set_mount_point(prefix, argv[2])) {
    std::fprintf(stderr, "cannot serve %s\n", argv[2]);
    return 1;
  }
  std::printf("serving %s at http://127.0.0.1:%d%s\n", argv[2], port, prefix.c_str());
  std::fflush(stdout);
  return server.listen("127.0.0.1", port) ? 0 : 1;
}
