#include "FileDialog.h"

#include <tuple>

namespace {

auto fields(const FileDialogRequest& r) {
    return std::tie(r.kind, r.title, r.filter, r.defaultExtension, r.initialFolder,
                    r.overwritePrompt, r.pathMustExist, r.fileMustExist, r.hideReadOnly,
                    r.helpButton, r.helpContext, r.pathCapacity);
}

}  // namespace

bool FileDialogRequest::operator==(const FileDialogRequest& other) const {
    return fields(*this) == fields(other);
}

FileDialogRequest fileRequest(FileDialogKind kind, std::string title, std::string filter,
                              std::string extension, std::string folder, std::uint32_t helpContext,
                              std::size_t pathCapacity) {
    FileDialogRequest request;
    request.kind = kind;
    request.title = std::move(title);
    request.filter = std::move(filter);
    request.defaultExtension = std::move(extension);
    request.initialFolder = std::move(folder);
    request.hideReadOnly = true;
    request.helpButton = true;
    request.helpContext = helpContext;
    request.pathCapacity = pathCapacity;
    return request;
}

std::vector<std::pair<std::string, std::string>> filterEntries(const std::string& filter) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < filter.size()) {
        const std::size_t bar = filter.find('|', start);
        if (bar == start) {
            break;  // an empty part ends the list
        }
        parts.push_back(filter.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos) {
            break;
        }
        start = bar + 1;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        entries.emplace_back(parts[i], parts[i + 1]);
    }
    return entries;
}

std::string pathTooLongText(std::size_t capacity) {
    return "The path is too long: at most " + std::to_string(capacity - 1) + " characters.";
}

std::string noSuchFolderText(const std::string& folder) {
    return "The folder \"" + folder + "\" does not exist.";
}

std::optional<Notice> refusedPath(const FileDialogRequest& request, const std::string& path,
                                  const std::string& folder, bool folderExists) {
    auto notice = [&request](std::string text) {
        return Notice{std::move(text), request.title, NoticeIcon::Exclamation, NoticeButtons::Ok,
                      NoticeKind::FileError};
    };
    if (request.pathMustExist && !folderExists) {
        return notice(noSuchFolderText(folder));
    }
    // The callers keep the path in a buffer of this size, terminator included.
    if (request.pathCapacity != 0 && path.size() >= request.pathCapacity) {
        return notice(pathTooLongText(request.pathCapacity));
    }
    return std::nullopt;
}
