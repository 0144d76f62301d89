// Reading the project's versions page.
#include "help/versions_page.h"

#include <cctype>
#include <wx/string.h>

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

// The page's plain text from its first visible character.
std::string trimmed_text(const std::string& html)
{
    const std::string text = strip_tags(html);
    const size_t b = text.find_first_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : text.substr(b);
}

}  // namespace

bool needs_fallback(const std::string& html)
{
    const std::string text = trimmed_text(html);
    return text.empty() || text.compare(0, 19, "Original location: ") == 0;
}

update_check_result evaluate_versions_pages(const std::string& primary_html,
                                            const std::string& fallback_html)
{
    update_check_result r;
    std::string text = trimmed_text(primary_html);
    r.html = primary_html;
    if (needs_fallback(primary_html)) {
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

