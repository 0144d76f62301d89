// A small blocking HTTP/1.0 client for the update check.
#include "help/http_get.h"

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

std::string http_get(const std::string& url, int timeout_ms)
{
    const std::string prefix = "http://";
    if (url.compare(0, prefix.size(), prefix) != 0) return std::string();
    const size_t slash = url.find('/', prefix.size());
    const std::string host = url.substr(prefix.size(), slash - prefix.size());
    const std::string path = slash == std::string::npos ? "/" : url.substr(slash);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), "80", &hints, &found) != 0 || !found) return std::string();
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(found, freeaddrinfo);

    const int fd = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (fd < 0) return std::string();
    std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* p) {
        close(*p);
        delete p;
    });
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    pollfd pfd{fd, POLLOUT, 0};
    if (connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        if (errno != EINPROGRESS || poll(&pfd, 1, timeout_ms) != 1) return std::string();
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err) return std::string();
    }
    const std::string request =
        "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != (ssize_t)request.size())
        return std::string();
    std::string response;
    char buffer[4096];
    pfd.events = POLLIN;
    while (response.size() < (1 << 16) && poll(&pfd, 1, timeout_ms) == 1) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        response.append(buffer, (size_t)n);
    }
    const size_t body = response.find("\r\n\r\n");
    if (response.compare(0, 5, "HTTP/") != 0 || body == std::string::npos) return std::string();
    const size_t status = response.find(' ');
    if (status == std::string::npos || response.compare(status + 1, 3, "200") != 0)
        return std::string();
    return response.substr(body + 4);
}

