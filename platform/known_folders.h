// The user's well-known folders.
#pragma once

#include <string>

namespace platform {

enum class KnownFolder { Documents, Pictures, Music, Desktop };

// Host path of the folder, without a trailing separator; empty when the
// system names none. On Linux these are the XDG user directories
// (user-dirs.dirs), falling back to $HOME/Documents and so on. With
// `create` a missing folder is made, as the system's shell would.
std::string knownFolderPath(KnownFolder folder, bool create = false);

}  // namespace platform
