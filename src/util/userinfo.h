// The program's one reader of URL user-info ("user:pass@"), used wherever a
// text that may carry a proxy or controller credential is stored or shown.
#pragma once

#include <string>
#include <string_view>

namespace corvale {

/// Replaces the user-info of every URL and of every bare "user:pass@host:port"
/// token in `text` by `replacement`. Where a credential ends cannot be told
/// for sure (a password may hold '/', '?', '#', ':' or '@' unencoded), so it
/// runs to the last '@' of its token: more is removed, never less. Anything
/// taken from the result (a host, a port) lies after the removed part. Linear
/// in the length of `text`.
std::string strip_userinfo(std::string_view text, std::string_view replacement);

}  // namespace corvale
