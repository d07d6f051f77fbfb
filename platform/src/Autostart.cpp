#include "Autostart.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "Launch.h"
#include "Platform.h"

namespace brindlow::platform {

namespace {

// The program of an Exec line: the first argument, with desktop-entry quoting undone.
std::string execProgram(const std::string& value) {
    std::string out;
    size_t i = 0;
    while (i < value.size() && value[i] == ' ') ++i;
    if (i < value.size() && value[i] == '"') {
        for (++i; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            out += value[i];
        }
        return out;
    }
    while (i < value.size() && value[i] != ' ') out += value[i++];
    return out;
}

std::string quoteExec(const std::string& program) {
    std::string out = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// The program an entry starts, "" when it has none.
std::string entryProgram(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[')
            inEntry = line == "[Desktop Entry]";
        else if (inEntry && line.rfind("Exec=", 0) == 0)
            return execProgram(line.substr(5));
    }
    return {};
}

bool makeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

}  // namespace

std::string autostartFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Only an absolute value counts, as the base-directory rules say.
    if (config && *config == '/') return std::string(config) + "/autostart";
    return homeDirectory() + "/.config/autostart";
}

bool registerAutostart(const std::string& bundle) {
    namespace fs = std::filesystem;
    const std::string exe = applicationExecutablePath(bundle);
    const std::string folder = autostartFolder();
    std::error_code ec;
    if (fs::is_directory(folder, ec)) {
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.path().extension() != ".desktop") continue;
            if (entryProgram(entry.path()) == exe) return true;
        }
    }
    if (!makeFolders(folder)) return false;

    std::string name = fs::path(bundle).stem().string();
    if (name.empty()) return false;
    fs::path file = fs::path(folder) / (name + ".desktop");
    for (int n = 2; fs::exists(file, ec); ++n)
        file = fs::path(folder) / (name + "-" + std::to_string(n) + ".desktop");

    const std::string text = "[Desktop Entry]\nType=Application\nName=" + name +
                             "\nExec=" + quoteExec(exe) + "\nX-GNOME-Autostart-enabled=true\n";
    std::ofstream out(file, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        fs::remove(file, ec);
        return false;
    }
    return true;
}

}  // namespace brindlow::platform
