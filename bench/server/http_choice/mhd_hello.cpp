// libmicrohttpd: its own epoll loop on two threads.
#include <microhttpd.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "body.h"
static std::string b = Body();
static MHD_Result H(void*, MHD_Connection* c, const char*, const char*, const char*, const char*, size_t*,
                    void**) {
    MHD_Response* r = MHD_create_response_from_buffer(b.size(), (void*)b.data(), MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(r, "Content-Type", "application/json");
    MHD_Result ret = MHD_queue_response(c, 200, r);
    MHD_destroy_response(r);
    return ret;
}
int main() {
    MHD_Daemon* d = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL, 18082, nullptr, nullptr,
                                     &H, nullptr, MHD_OPTION_THREAD_POOL_SIZE, 2u, MHD_OPTION_END);
    if (!d) return 1;
    pause();
}
