// The file index's SQLite I/O under the product's Env: a VFS that does what
// the system's default VFS does, after asking the current Env whether each
// open, write, sync and delete may go ahead (Env::permitForeignOperation),
// so that a test can make the index's disk fail like any other file.
#pragma once

namespace ZR {

// Registers the VFS once (thread-safe) and returns its name; null when
// SQLite has no default VFS to build on.
const char* envVfsName();

}  // namespace ZR
