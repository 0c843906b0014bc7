// SQLite's file layer with a pause point (engine::Pace) before each read
// and write of a page. A commit writes its pages to the log one by one, and
// a checkpoint copies them into the file one by one, some 10 ms of CPU or
// more that SQLite spends without returning; through this layer a paced
// writer steps aside between pages instead. For other threads it adds one
// test per page.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_PACED_VFS_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_PACED_VFS_H_

namespace engine::sqlite {

// The name to open writable handles with (sqlite3_open_v2's zVfs): the
// default file layer wrapped, registered at the first call; null, which is
// the default itself, when it cannot be registered.
const char* PacedVfsName();

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_PACED_VFS_H_
