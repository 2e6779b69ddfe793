// cpp-httplib: a thread pool, one thread per open connection.
#include <httplib.h>
#include <netinet/tcp.h>

#include "body.h"
int main() {
    httplib::Server s;
    std::string b = Body();
    s.new_task_queue = [] { return new httplib::ThreadPool(96); };
    s.set_keep_alive_max_count(1000);
    s.set_socket_options([](socket_t fd) {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    });
    s.Get("/api/v1/scores",
          [&](const httplib::Request&, httplib::Response& r) { r.set_content(b, "application/json"); });
    s.listen("127.0.0.1", 18081);
}
