// The file index's SQLite I/O under the product's Env: a VFS that does what
// the system's default VFS does, after asking an Env whether each open,
// write, sync and delete may go ahead (Env::permitForeignOperation), so that
// a test can make the index's disk fail like any other file.
#pragma once

namespace platform {
class Env;
}  // namespace platform

namespace ZR {

// The name of the VFS that asks `env`, registered on first use for each Env
// (thread-safe; never unregistered, a handful of bytes); null when SQLite
// has no default VFS to build on.
const char* envVfsName(platform::Env& env);

}  // namespace ZR
