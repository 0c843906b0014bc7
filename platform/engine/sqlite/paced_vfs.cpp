#include "platform/engine/sqlite/paced_vfs.h"

#include <sqlite3.h>

#include <mutex>

#include "platform/engine/pacing.h"

namespace engine::sqlite {
namespace {

// A wrapped file: ours first, the default layer's own file object right
// after it, in the memory SQLite allocates for szOsFile.
struct PacedFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_vfs* root = nullptr;
sqlite3_vfs paced_vfs;
// One table per version of the wrapped file's methods, so that a file
// without shared memory or memory mapping reports that as it would.
sqlite3_io_methods paced_methods[3];

sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<PacedFile*>(file)->real; }

int Close(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
int Read(sqlite3_file* f, void* buf, int amount, sqlite3_int64 offset) {
  Pace();
  return Real(f)->pMethods->xRead(Real(f), buf, amount, offset);
}
int Write(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset) {
  Pace();
  return Real(f)->pMethods->xWrite(Real(f), buf, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) { return Real(f)->pMethods->xTruncate(Real(f), size); }
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); }
int FileControl(sqlite3_file* f, int op, void* arg) { return Real(f)->pMethods->xFileControl(Real(f), op, arg); }
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int delete_flag) { return Real(f)->pMethods->xShmUnmap(Real(f), delete_flag); }
int Fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
  return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) {
  return Real(f)->pMethods->xUnfetch(Real(f), offset, page);
}

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  auto* paced = reinterpret_cast<PacedFile*>(file);
  paced->real = reinterpret_cast<sqlite3_file*>(paced + 1);
  paced->base.pMethods = nullptr;
  const int rc = root->xOpen(root, name, paced->real, flags, out_flags);
  // SQLite calls xClose only on a file whose methods are set; a failed
  // open leaves the wrapped one's unset, and so ours.
  const sqlite3_io_methods* real = paced->real->pMethods;
  if (real != nullptr) paced->base.pMethods = &paced_methods[real->iVersion >= 3 ? 2 : real->iVersion < 2 ? 0 : 1];
  return rc;
}

void Register() {
  root = sqlite3_vfs_find(nullptr);
  if (root == nullptr) return;
  // The calls that concern no file go to the default layer as they are:
  // they read from the vfs object given only what this copy keeps the same
  // (its mxPathname and pAppData).
  paced_vfs = *root;
  paced_vfs.szOsFile = static_cast<int>(sizeof(PacedFile)) + root->szOsFile;
  paced_vfs.zName = "histdata-paced";
  paced_vfs.pNext = nullptr;
  paced_vfs.xOpen = Open;
  for (int v = 0; v < 3; ++v) {
    sqlite3_io_methods& m = paced_methods[v];
    m = sqlite3_io_methods{};
    m.iVersion = v + 1;
    m.xClose = Close;
    m.xRead = Read;
    m.xWrite = Write;
    m.xTruncate = Truncate;
    m.xSync = Sync;
    m.xFileSize = FileSize;
    m.xLock = Lock;
    m.xUnlock = Unlock;
    m.xCheckReservedLock = CheckReservedLock;
    m.xFileControl = FileControl;
    m.xSectorSize = SectorSize;
    m.xDeviceCharacteristics = DeviceCharacteristics;
    if (v >= 1) {
      m.xShmMap = ShmMap;
      m.xShmLock = ShmLock;
      m.xShmBarrier = ShmBarrier;
      m.xShmUnmap = ShmUnmap;
    }
    if (v >= 2) {
      m.xFetch = Fetch;
      m.xUnfetch = Unfetch;
    }
  }
  if (sqlite3_vfs_register(&paced_vfs, 0) != SQLITE_OK) root = nullptr;
}

}  // namespace

const char* PacedVfsName() {
  static std::once_flag once;
  std::call_once(once, Register);
  return root != nullptr ? paced_vfs.zName : nullptr;
}

}  // namespace engine::sqlite
