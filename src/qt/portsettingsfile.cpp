#include "qt/portsettingsfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "core/panel/portsettings.h"

std::string portSettingsPath()
{
    // The XDG rules ignore a relative XDG_CONFIG_HOME. Not QStandardPaths: Qt 6.4 returns a
    // relative XDG_CONFIG_HOME as it is ("rel" for XDG_CONFIG_HOME=rel) and, with HOME unset,
    // "//.config", where the panel says that neither is set.
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config && config[0] == '/') {
        folder = config;
    } else {
        const char *home = std::getenv("HOME");
        if (!home || home[0] == '\0')
            return {};
        folder = std::string(home) + "/.config";
    }
    return folder + "/koru-panel/koru-panel.conf";
}

namespace {

// A settings file is a few lines; anything much larger is not one.
constexpr std::size_t kMaxSettingsBytes = std::size_t{16} * 1024;

// The file's text: a regular file only, opened without waiting (a FIFO in its place would hold
// the program for ever) and read up to the bound. nullopt, with the reason, for anything else;
// an empty text when there is no file.
std::optional<std::string> readSettingsFile(const std::string &path, std::string *reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::string();
        *reason = std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    std::string text;
    if (::fstat(fd, &info) != 0) {
        *reason = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        *reason = "not a regular file";
    } else if (static_cast<std::size_t>(info.st_size) > kMaxSettingsBytes) {
        *reason = "larger than " + std::to_string(kMaxSettingsBytes / 1024) + " KiB";
    } else {
        char buffer[4096];
        ssize_t n = 0;
        while (text.size() <= kMaxSettingsBytes &&
               ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
            text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0)
            *reason = std::strerror(errno);
        else if (text.size() > kMaxSettingsBytes)
            *reason = "larger than " + std::to_string(kMaxSettingsBytes / 1024) + " KiB";
    }
    ::close(fd);
    if (!reason->empty())
        return std::nullopt;
    return text;
}

}  // namespace

DeviceMap loadPortSettings(std::vector<std::string> *problems)
{
    const std::string path = portSettingsPath();
    if (path.empty())
        return {};
    std::string reason;
    const std::optional<std::string> text = readSettingsFile(path, &reason);
    if (!text) {
        if (problems)
            problems->push_back(path + ": " + reason + "; it is not read");
        return {};
    }
    PortSettings settings = PortSettings::parse(*text);
    if (problems) {
        for (const std::string &problem : settings.problems) {
            problems->push_back(path);
            problems->back().append(": ").append(problem);
        }
    }
    return settings.devices;
}

DeviceMap loadPortSettingsWarning(std::string_view program)
{
    std::vector<std::string> problems;
    DeviceMap devices = loadPortSettings(&problems);
    for (const std::string &problem : problems)
        std::cerr << program << ": " << problem << "\n";
    return devices;
}

namespace {

// The file a path leads to, through any symbolic links, so that saving writes the link's
// target and keeps the link.
std::filesystem::path linkTarget(std::filesystem::path path)
{
    std::error_code error;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(path, error); ++hops) {
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error)
            break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

bool syncFolder(const std::filesystem::path &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

}  // namespace

std::optional<std::string> savePortSettings(const DeviceMap &devices, const std::string &path)
{
    if (path.empty())
        return "neither XDG_CONFIG_HOME nor HOME is set";
    for (const std::string *name : {&devices.com1, &devices.com2}) {
        if (!DeviceMap::isUsableName(*name))
            return "a device name with a control character in it cannot be saved";
        if (name->empty() || name->front() == ' ' || name->back() == ' ')
            return "\"" + *name + "\" starts or ends with a space, which the file cannot keep";
    }
    const std::filesystem::path target = linkTarget(path);
    std::string reason;
    const std::optional<std::string> old = readSettingsFile(target, &reason);
    const std::string where = target == path ? std::string() : " (" + target.string() + ")";
    if (!old)
        return "the file" + where + " is " + reason + "; it was left as it is";
    // A byte-order mark hides the line after it: the file is left for its owner to mend.
    if (old->starts_with("\xef\xbb\xbf"))
        return "the file" + where + " starts with a byte-order mark; remove it, then save again";
    // QSaveFile will not replace a file that this user may not write (its owner made it
    // read-only to keep it as it is), so the panel refuses it first, in its own words.
    if (::access(target.c_str(), W_OK) != 0 && errno == EACCES)
        return "the file" + where + " is read-only; make it writable, then save again";
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    if (error)
        return "cannot make " + target.parent_path().string() + ": " + error.message();
    // A reader never sees half a file, and a failed write leaves the old one as it was: QSaveFile
    // writes a temporary file beside the target, syncs it and renames it over the target, giving
    // it the target's permissions first, so that a file of 0600 stays private.
    const bool existed = std::filesystem::exists(target, error);
    QSaveFile file(QFile::decodeName(target.c_str()));
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString().toStdString() + where;
    // The temporary file is made 0666 under the umask; of that, a new settings file keeps
    // 0644, as the panel has always made it.
    struct stat made {};
    if (!existed && ::fstat(file.handle(), &made) == 0 &&
        ::fchmod(file.handle(), made.st_mode & 0644) != 0)
        return std::string(std::strerror(errno)) + where;
    const std::string text = PortSettings::update(*old, devices);
    if (file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.commit())
        return file.errorString().toStdString() + where;
    syncFolder(target.parent_path());
    return std::nullopt;
}
