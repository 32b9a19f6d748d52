// Files the run writes besides the report.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvale {

/// Writes the whole buffer, retrying interrupted writes; the error text when
/// it cannot (a zero-byte write is an error).
std::optional<std::string> write_all(int fd, std::string_view data);

/// Replaces `path` with `text` in one step, for a reader that must never see
/// half a file: the text goes to a new hidden file beside it (mode 0644, a
/// name that does not end like `path`), is flushed to disk and renamed over
/// `path`. A symbolic link at `path` is replaced, never followed. Nothing is
/// left behind on failure; the error text says why.
std::optional<std::string> replace_file(const std::string& path, std::string_view text);

}  // namespace corvale
