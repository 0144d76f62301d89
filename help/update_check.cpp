#include "help/update_check.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/html/htmlwin.h>
#include <wx/log.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include "app/main_frame.h"
#include "app/version.h"

const char* const voxmira_web_page = "http://voxmira.org/";
const char* const voxmira_versions_page = "http://voxmira.org/versions.html";
const char* const voxmira_versions_fallback = "http://www.voxmira.org/versions.html";

bool update_check_due(const wxDateTime& now)
{
    const wxDateTime epoch(30, wxDateTime::Sep, 2024, 0, 0, 0);
    return (now - epoch).GetMinutes() >= 1440;
}

std::string latest_version_from_text(const std::string& text)
{
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos || text.compare(b, 8, "Voxmira ") != 0) return std::string();
    b += 8;
    size_t e = b;
    while (e < text.size() && !std::isspace((unsigned char)text[e]) && text[e] != '<') e++;
    return text.substr(b, e - b);
}

namespace {

// Plain text of an HTML page: tags removed.
std::string strip_tags(const std::string& html)
{
    std::string out;
    bool in_tag = false;
    for (char c : html) {
        if (c == '<') in_tag = true;
        else if (c == '>') in_tag = false;
        else if (!in_tag) out += c;
    }
    return out;
}

// A bounded HTTP GET: every step gives up after `timeout_ms`. Returns the body, or an
// empty string on any failure.
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

struct check_state {
    std::mutex lock;
    bool done = false;
    update_check_result result;
};

std::shared_ptr<check_state> running;

}  // namespace

update_check_result evaluate_versions_pages(const std::string& primary_html,
                                            const std::string& fallback_html)
{
    update_check_result r;
    auto trimmed_text = [](const std::string& html) {
        const std::string text = strip_tags(html);
        const size_t b = text.find_first_not_of(" \t\r\n");
        return b == std::string::npos ? std::string() : text.substr(b);
    };
    std::string text = trimmed_text(primary_html);
    r.html = primary_html;
    if (text.empty() || text.compare(0, 19, "Original location: ") == 0) {
        text = trimmed_text(fallback_html);
        r.html = fallback_html;
    }
    if (text.empty()) {
        r.html.clear();
        r.messages.push_back("Could not access web page with Voxmira version information.");
    }
    r.latest = latest_version_from_text(text);
    if (r.latest.empty()) {
        r.messages.push_back("Could not determine latest Voxmira version.");
        return r;
    }
    if (r.latest == VOXMIRA_VERSION) {
        r.messages.push_back("The version of Voxmira is already up to date.");
    } else {
        r.newer = true;
        r.messages.push_back(
            (const char*)wxString::Format("Version %s of Voxmira is now available.\n\nThe currently "
                                          "running version of Voxmira is %s.\nClick 'update' to "
                                          "visit the download web pages.",
                                          r.latest, VOXMIRA_VERSION)
                .utf8_str());
    }
    return r;
}

update_check_result run_update_check(int timeout_ms)
{
    const std::string primary = http_get(voxmira_versions_page, timeout_ms);
    std::string fallback;
    const std::string text = strip_tags(primary);
    const size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos || text.compare(b, 19, "Original location: ") == 0)
        fallback = http_get(voxmira_versions_fallback, timeout_ms);
    return evaluate_versions_pages(primary, fallback);
}

// The dialog for a finished check; without a readable page only the messages are logged.
static void show_update_dialog(wxWindow* parent, const update_check_result& r)
{
    if (r.html.empty()) {
        for (const std::string& m : r.messages) wxLogMessage("%s", wxString::FromUTF8(m));
        return;
    }
    wxDialog dialog(parent, wxID_ANY, "Check for updates", wxDefaultPosition, wxSize(480, 360),
                    wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    wxHtmlWindow* html = new wxHtmlWindow(&dialog, wxID_ANY, wxDefaultPosition, wxSize(460, 260),
                                          wxHW_SCROLLBAR_AUTO, "htmlWindow");
    {
        wxLogNull quiet;
        html->SetPage(wxString::FromUTF8(r.html));
    }
    sizer->Add(html, 1, wxEXPAND | wxALL, 5);
    wxStdDialogButtonSizer* buttons = new wxStdDialogButtonSizer;
    if (r.newer) {
        buttons->AddButton(new wxButton(&dialog, wxID_CANCEL, "Cancel"));
        buttons->AddButton(new wxButton(&dialog, wxID_OK, "Update"));
    } else {
        buttons->AddButton(new wxButton(&dialog, wxID_OK, "OK"));
    }
    buttons->Realize();
    sizer->Add(buttons, 0, wxEXPAND | wxALL, 5);
    dialog.SetSizer(sizer);
    for (const std::string& m : r.messages) wxLogMessage("%s", wxString::FromUTF8(m));
    if (dialog.ShowModal() == wxID_OK && r.newer) wxLaunchDefaultBrowser(voxmira_web_page);
}

void update_check_dialog(wxWindow* parent)
{
    update_check_result r;
    {
        wxBusyCursor busy;
        r = run_update_check();
    }
    show_update_dialog(parent, r);
}

void start_background_update_check()
{
    if (running) return;
    running = std::make_shared<check_state>();
    std::shared_ptr<check_state> state = running;
    // The worker touches only its own state, the C library and wx strings, never a window,
    // so it may be abandoned mid-lookup when the program ends.
    std::thread([state] {
        update_check_result r = run_update_check(3000);
        std::lock_guard<std::mutex> hold(state->lock);
        state->result = std::move(r);
        state->done = true;
    }).detach();
}

void poll_background_update_check()
{
    if (!running) return;
    update_check_result r;
    {
        std::lock_guard<std::mutex> hold(running->lock);
        if (!running->done) return;
        r = running->result;
    }
    running.reset();
    // At start-up the check speaks only when there is something new.
    if (r.newer) show_update_dialog(myframe, r);
}
