// Batched reading of small files, and of pieces of files, through io_uring,
// with reading one by one as the fallback. The ring is set up once per
// process on first use, with a table of registered descriptor slots: each
// file is opened straight into a slot and read from it by a linked pair of
// requests, or by a chain of reads for pieces. No file is closed on its own:
// the next file opened into its slot replaces it, and what the slots hold
// last goes with the ring. A file read in two rounds stays in its slot in
// between.
#include "store/batch_read.h"

#include <fcntl.h>
#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "store/records.h"

namespace {

constexpr unsigned kSlots = 64;          // files in flight per batch
constexpr unsigned kBuffer = 4096;       // bytes read per file at most; larger ones are read again
constexpr unsigned kFirstSlot = 1024;    // bytes per file until a larger file is met
constexpr unsigned kEntries = 4 * kSlots;  // a file's open and read fit twice over
constexpr size_t kFewFiles = 8;
constexpr size_t kMaxPieces = 128;      // reads of one file in one chain
constexpr size_t kPieceBytes = 960 << 10;  // buffers of one batch of pieces
constexpr unsigned kNoSqArray = 1U << 16;  // IORING_SETUP_NO_SQARRAY (Linux 6.6)
constexpr unsigned kNoMmap = 1U << 14;     // IORING_SETUP_NO_MMAP (Linux 6.5)
// The rings' memory when the process provides it: the completion ring of
// 2 * kEntries entries and the ring heads, in whole pages.
constexpr size_t kOwnRingBytes = 32768;

bool g_plain = false;
bool g_rings_in_heap = false;

class Ring {
 public:
  static Ring* get() {
    static Ring ring;
    return ring.ok_ ? &ring : nullptr;
  }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;

  // Opens names[first + k] into slot k for k < count (at most kSlots) in
  // `dir_fd`, and reads it; res_open[k], res_read[k] and the bytes in
  // buffer(k). An open that fails cancels its read, so a file an earlier
  // batch left in the slot is never read in its place.
  // False when the ring failed as a whole (the caller then reads plainly).
  bool run(int dir_fd, const std::vector<std::string>& names, size_t first, unsigned count,
           int* res_open, int* res_read) {
    unsigned tail = sq_tail_->load(std::memory_order_relaxed);
    for (unsigned k = 0; k < count; k++) {
      open_into(tail, dir_fd, names[first + k], k, IOSQE_IO_LINK);
      io_uring_sqe* s = next_sqe(tail);
      s->opcode = IORING_OP_READ;
      s->fd = static_cast<int>(k);
      s->flags = IOSQE_FIXED_FILE;
      s->addr = reinterpret_cast<uintptr_t>(buffer(k));
      s->len = slot_;
      s->off = 0;
      s->user_data = k << 2 | 1;
    }
    sq_tail_->store(tail, std::memory_order_release);
    return reap(2 * count, count, res_open, res_read);
  }
  // Reads `len` bytes (at most kBuffer) at offs[k] of `fd` into buffer(k)
  // for k < count (at most kSlots); res[k] the result.
  // With `lens`, each read is of its own length lens[k] (at most the slot).
  // With `fds`, piece k is read from fds[k].
  bool run_reads(int fd, const long* offs, unsigned count, unsigned len, int* res, const size_t* lens = nullptr,
                 const int* fds = nullptr) {
    unsigned tail = sq_tail_->load(std::memory_order_relaxed);
    for (unsigned k = 0; k < count; k++) {
      io_uring_sqe* s = next_sqe(tail);
      s->opcode = IORING_OP_READ;
      s->fd = fds ? fds[k] : fd;
      s->addr = reinterpret_cast<uintptr_t>(buffer(k));
      s->len = lens ? static_cast<unsigned>(lens[k]) : len;
      s->off = static_cast<uint64_t>(offs[k]);
      s->user_data = k << 2 | 1;
    }
    sq_tail_->store(tail, std::memory_order_release);
    return reap(count, count, nullptr, res);
  }
  // One chain per file k < count, hard-linked so that it runs in order on
  // one open file: with `names`, open names[k] into slot k; read each of
  // pieces[k] from the slot into dst[k] + its place there. A chain is at
  // most kMaxPieces reads long. Results: res_open[k], and res[k][j] for the
  // reads. Where an open failed the reads still run, on whatever the slot
  // held: the caller looks at none of them.
  bool run_pieces(int dir_fd, const std::string* const* names, unsigned count, const std::vector<FilePiece>* pieces,
                  char* const* dst, int* res_open, std::vector<int>* res) {
    unsigned tail = sq_tail_->load(std::memory_order_relaxed), queued = 0;
    for (unsigned k = 0; k < count; k++) {
      const unsigned chain = (names ? 1 : 0) + static_cast<unsigned>(pieces[k].size());
      if (queued + chain > kEntries) {  // a chain never spans two submissions
        sq_tail_->store(tail, std::memory_order_release);
        if (!reap(queued, [&](uint64_t u, int r) { result(u, r, res_open, res); })) return false;
        queued = 0;
      }
      if (names) open_into(tail, dir_fd, *names[k], k, chain > 1 ? IOSQE_IO_HARDLINK : 0);
      size_t at = 0;
      for (size_t j = 0; j < pieces[k].size(); j++) {
        io_uring_sqe* s = next_sqe(tail);
        s->opcode = IORING_OP_READ;
        s->fd = static_cast<int>(k);
        s->flags = IOSQE_FIXED_FILE | (j + 1 < pieces[k].size() ? IOSQE_IO_HARDLINK : 0);
        s->addr = reinterpret_cast<uintptr_t>(dst[k] + at);
        s->len = static_cast<unsigned>(pieces[k][j].len);
        s->off = static_cast<uint64_t>(pieces[k][j].off);
        s->user_data = (uint64_t{k} << 32 | j) << 2 | 1;
        at += pieces[k][j].len;
      }
      queued += chain;
    }
    sq_tail_->store(tail, std::memory_order_release);
    return reap(queued, [&](uint64_t u, int r) { result(u, r, res_open, res); });
  }
  static void result(uint64_t u, int r, int* res_open, std::vector<int>* res) {
    if ((u & 3) == 0) res_open[u >> 2] = r;
    if ((u & 3) == 1) res[u >> 34][static_cast<uint32_t>(u >> 2)] = r;
  }
  // Submits `to_submit` requests and waits for them, calling on(user_data,
  // result) for each.
  template <class On>
  bool reap(unsigned to_submit, On on) {
    unsigned pending = to_submit;
    while (pending > 0) {
      long r = syscall(__NR_io_uring_enter, fd_, to_submit, 1, IORING_ENTER_GETEVENTS, nullptr, 0);
      if (r < 0 && errno != EINTR && errno != EAGAIN && errno != EBUSY) return broken();
      if (r > 0) to_submit -= static_cast<unsigned>(r) < to_submit ? static_cast<unsigned>(r) : to_submit;
      unsigned head = cq_head_->load(std::memory_order_relaxed);
      const unsigned ctail = cq_tail_->load(std::memory_order_acquire);
      for (; head != ctail; head++, pending--) on(cqes_[head & cq_mask_].user_data, cqes_[head & cq_mask_].res);
      cq_head_->store(head, std::memory_order_release);
    }
    return true;
  }
  // Submits `to_submit` requests and waits for them; the results of the
  // opens (when asked for) and reads of the first `count` files.
  bool reap(unsigned to_submit, unsigned count, int* res_open, int* res_read) {
    return reap(to_submit, [&](uint64_t u, int r) {
      const auto k = static_cast<unsigned>(u >> 2);
      if (k >= count) return;
      if ((u & 3) == 0 && res_open) res_open[k] = r;
      if ((u & 3) == 1) res_read[k] = r;
    });
  }
  char* buffer(unsigned k) { return buffers_.get() + static_cast<size_t>(k) * slot_; }
  // Bytes per file in a batch. The files' buffers lie side by side, and a
  // page first touched costs more than reading a small file plainly, so
  // small files share pages; after a file that did not fit, the batches
  // give each file the most.
  unsigned slot() const { return slot_; }
  void widen(unsigned at_least) {
    while (slot_ < at_least && slot_ < kBuffer) slot_ *= 2;
  }
  bool broken() {
    ok_ = false;
    return false;
  }
  bool usable() const { return ok_; }

 private:
  // The buffers are left uninitialised: only the pages the reads fill are
  // ever touched.
  Ring() : buffers_(new char[static_cast<size_t>(kSlots) * kBuffer]) {
    // Without the index array the kernel takes the entries in ring order.
    // A ring with the array switches a kernel-wide static branch on when it
    // is the only one, and off when it goes: code patched across every CPU,
    // on each request. Kernels before 6.6 refuse the flag and get the array.
    // Where the heap lies on a huge page, the rings lie there too, if the
    // kernel allows (6.5): they then cost neither mappings nor page faults
    // of their own. Else the kernel's rings are mapped, as before (fresh
    // heap pages would cost more).
    io_uring_params p{};
    const unsigned tries[] = {kNoSqArray | kNoMmap, kNoSqArray, 0};
    for (unsigned flags : tries) {
      if ((flags & kNoMmap) && !g_rings_in_heap) continue;
      p = io_uring_params{};
      p.flags = flags;
      if (flags & kNoMmap) {
        own_rings_.reset(static_cast<char*>(std::aligned_alloc(4096, kOwnRingBytes)));
        own_sqes_.reset(static_cast<char*>(std::aligned_alloc(4096, kEntries * sizeof(io_uring_sqe))));
        if (!own_rings_ || !own_sqes_) continue;
        // The addresses go in each offsets' last field (user_addr).
        const uint64_t rings = reinterpret_cast<uintptr_t>(own_rings_.get());
        const uint64_t sqes = reinterpret_cast<uintptr_t>(own_sqes_.get());
        std::memcpy(reinterpret_cast<char*>(&p.cq_off) + sizeof p.cq_off - sizeof rings, &rings, sizeof rings);
        std::memcpy(reinterpret_cast<char*>(&p.sq_off) + sizeof p.sq_off - sizeof sqes, &sqes, sizeof sqes);
      }
      fd_ = static_cast<int>(syscall(__NR_io_uring_setup, kEntries, &p));
      if (fd_ >= 0 || errno != EINVAL) break;
    }
    if (!(p.flags & kNoMmap)) own_rings_.reset(), own_sqes_.reset();
    if (fd_ < 0) return;
    if (!(p.features & IORING_FEAT_SINGLE_MMAP) || !(p.features & IORING_FEAT_NODROP)) return;
    ring_size_ = std::max<size_t>(p.sq_off.array + p.sq_entries * sizeof(unsigned),
                                  p.cq_off.cqes + p.cq_entries * sizeof(io_uring_cqe));
    sqes_size_ = p.sq_entries * sizeof(io_uring_sqe);
    void* ring = nullptr;
    void* sqes = nullptr;
    if (p.flags & kNoMmap) {
      if (ring_size_ > kOwnRingBytes || sqes_size_ > kEntries * sizeof(io_uring_sqe)) return;
      ring = own_rings_.get();
      sqes = own_sqes_.get();
    } else {
      ring = mmap(nullptr, ring_size_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_, IORING_OFF_SQ_RING);
      sqes = mmap(nullptr, sqes_size_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_, IORING_OFF_SQES);
      if (ring == MAP_FAILED || sqes == MAP_FAILED) return;
    }
    char* base = static_cast<char*>(ring);
    sq_tail_ = reinterpret_cast<std::atomic<unsigned>*>(base + p.sq_off.tail);
    sq_mask_ = *reinterpret_cast<unsigned*>(base + p.sq_off.ring_mask);
    if (!(p.flags & kNoSqArray)) sq_array_ = reinterpret_cast<unsigned*>(base + p.sq_off.array);
    cq_head_ = reinterpret_cast<std::atomic<unsigned>*>(base + p.cq_off.head);
    cq_tail_ = reinterpret_cast<std::atomic<unsigned>*>(base + p.cq_off.tail);
    cq_mask_ = *reinterpret_cast<unsigned*>(base + p.cq_off.ring_mask);
    cqes_ = reinterpret_cast<io_uring_cqe*>(base + p.cq_off.cqes);
    sqes_ = static_cast<io_uring_sqe*>(sqes);
    int empty[kSlots];
    for (int& e : empty) e = -1;
    if (syscall(__NR_io_uring_register, fd_, IORING_REGISTER_FILES, empty, kSlots) < 0) return;
    ok_ = true;
  }
  // Opens `name` in `dir_fd` straight into slot k, linked to what follows.
  // Such a descriptor is never in the process's table, so close-on-exec
  // does not apply (and is refused).
  void open_into(unsigned& tail, int dir_fd, const std::string& name, unsigned k, uint8_t link) {
    io_uring_sqe* s = next_sqe(tail);
    s->opcode = IORING_OP_OPENAT;
    s->fd = dir_fd;
    s->addr = reinterpret_cast<uintptr_t>(name.c_str());
    s->open_flags = O_RDONLY;
    s->file_index = k + 1;
    s->flags = link;
    s->user_data = k << 2;
  }
  io_uring_sqe* next_sqe(unsigned& tail) {
    const unsigned i = tail & sq_mask_;
    io_uring_sqe* s = &sqes_[i];
    std::memset(s, 0, sizeof *s);
    if (sq_array_) sq_array_[i] = i;
    tail++;
    return s;
  }

  int fd_ = -1;
  bool ok_ = false;
  size_t ring_size_ = 0, sqes_size_ = 0;
  std::atomic<unsigned>*sq_tail_ = nullptr, *cq_head_ = nullptr, *cq_tail_ = nullptr;
  unsigned sq_mask_ = 0, cq_mask_ = 0;
  unsigned* sq_array_ = nullptr;
  io_uring_sqe* sqes_ = nullptr;
  io_uring_cqe* cqes_ = nullptr;
  std::unique_ptr<char[]> buffers_;
  // The rings' memory when the process provides it; never given back while
  // the ring is open (the kernel holds those pages).
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> own_rings_, own_sqes_;
  unsigned slot_ = kFirstSlot;
};

// The directory `dir`, opened once and kept for the process: a page reads
// several batches from its data directory, and each opening walks the
// whole path. Kept by path, so that another directory (the tests serve
// several sites from one process) is opened anew.
const Fd& held_dir(const std::string& dir) {
  static std::string path;
  static Fd fd;
  if (!fd.ok() || path != dir) {
    fd = Fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    path = dir;
  }
  return fd;
}

// `name` in the directory, opened plainly (by its path where the directory
// could not be opened).
Fd open_in(int dir_fd, const std::string& dir, const std::string& name) {
  return Fd(dir_fd >= 0 ? openat(dir_fd, name.c_str(), O_RDONLY | O_CLOEXEC)
                        : open((dir + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
}

// One file, read plainly: err 0 and the bytes, or the errno.
int read_plain(int dir_fd, const std::string& dir, const std::string& name, std::string& out) {
  out.clear();
  const Fd fd = open_in(dir_fd, dir, name);
  if (!fd.ok()) return errno;
  return read_fd(fd.get(), out) ? 0 : errno;
}

// The pieces at offsets[i] of lens[i] bytes (all `len` bytes when `lens`
// is null), through the ring from `fewest` pieces on.
void read_some_ranges(int fd, const std::vector<long>& offsets, size_t len, const std::vector<size_t>* lens,
                      size_t fewest, const std::function<void(size_t, std::string_view)>& fn,
                      const std::vector<int>* fds = nullptr) {
  auto fd_of = [&](size_t i) { return fds ? (*fds)[i] : fd; };
  const size_t most = lens && !lens->empty() ? *std::max_element(lens->begin(), lens->end()) : len;
  auto size_of = [&](size_t i) { return lens ? (*lens)[i] : len; };
  std::string bytes(most, '\0');
  size_t i = 0;
  Ring* ring = g_plain || offsets.size() < fewest || most > kBuffer ? nullptr : Ring::get();
  while (ring && ring->usable() && i < offsets.size()) {
    const unsigned count = static_cast<unsigned>(std::min<size_t>(kSlots, offsets.size() - i));
    int res[kSlots];
    for (unsigned k = 0; k < count; k++) res[k] = -ECANCELED;
    ring->widen(static_cast<unsigned>(most));
    if (!ring->run_reads(fd, offsets.data() + i, count, static_cast<unsigned>(len), res,
                         lens ? lens->data() + i : nullptr, fds ? fds->data() + i : nullptr))
      break;
    for (unsigned k = 0; k < count; k++, i++) {
      if (res[k] >= 0) {
        fn(i, std::string_view(ring->buffer(k), static_cast<size_t>(res[k])));
      } else {
        if (res[k] == -EINVAL || res[k] == -EBADF) ring->broken();
        long n = pread_some(fd_of(i), bytes.data(), size_of(i), offsets[i]);
        fn(i, std::string_view(bytes.data(), n > 0 ? static_cast<size_t>(n) : 0));
      }
    }
  }
  for (; i < offsets.size(); i++) {
    long n = pread_some(fd_of(i), bytes.data(), size_of(i), offsets[i]);
    fn(i, std::string_view(bytes.data(), n > 0 ? static_cast<size_t>(n) : 0));
  }
}

}  // namespace

void read_ranges(int fd, const std::vector<long>& offsets, size_t len,
                 const std::function<void(size_t, std::string_view)>& fn) {
  read_some_ranges(fd, offsets, len, nullptr, kFewFiles, fn);
}

void read_ranges(int fd, const std::vector<long>& offsets, const std::vector<size_t>& lens,
                 const std::function<void(size_t, std::string_view)>& fn) {
  read_some_ranges(fd, offsets, 0, &lens, 2, fn);
}

void read_ranges(const std::vector<int>& fds, const std::vector<long>& offsets, const std::vector<size_t>& lens,
                 const std::function<void(size_t, std::string_view)>& fn) {
  read_some_ranges(-1, offsets, 0, &lens, 2, fn, &fds);
}

namespace {

// One file's pieces read plainly, as read_pieces gives them.
void pieces_plain(int dir_fd, const std::string& dir, size_t i, const std::string& name,
                  const std::vector<FilePiece>& first, const PiecesThen& then, const PiecesDone& fn) {
  const Fd fd = open_in(dir_fd, dir, name);
  if (!fd.ok()) {
    fn(i, {}, errno);
    return;
  }
  std::vector<std::string> held;
  std::vector<std::string_view> got;
  // Many pieces still go in batches of their own.
  auto read = [&](const std::vector<FilePiece>& pieces) {
    std::vector<long> offs;
    std::vector<size_t> lens;
    for (const FilePiece& p : pieces) offs.push_back(p.off), lens.push_back(p.len);
    if (pieces.size() > kFewFiles) {
      read_ranges(fd.get(), offs, lens, [&](size_t, std::string_view b) { held.emplace_back(b); });
    } else {
      for (const FilePiece& p : pieces) {
        std::string& b = held.emplace_back(p.len, '\0');
        b.resize(static_cast<size_t>(std::max(0L, pread_some(fd.get(), b.data(), p.len, p.off))));
      }
    }
    got.assign(held.begin(), held.end());
  };
  held.reserve(first.size());
  read(first);
  if (then) {
    std::vector<FilePiece> more = then(i, got);
    if (more.size() > kMaxPieces) more.resize(kMaxPieces);
    held.reserve(first.size() + more.size());
    read(more);
  }
  fn(i, got, 0);
}

}  // namespace

void read_pieces(const std::string& dir, const std::vector<std::string>& names,
                 const std::vector<std::vector<FilePiece>>& first, const PiecesThen& then, const PiecesDone& fn) {
  if (names.empty()) return;
  const Fd& dir_fd = held_dir(dir);
  auto bytes_of = [](const std::vector<FilePiece>& ps) {
    size_t n = 0;
    for (const FilePiece& p : ps) n += p.len;
    return n;
  };
  size_t i = 0;
  Ring* ring = g_plain || !dir_fd.ok() || names.size() < kFewFiles ? nullptr : Ring::get();
  while (ring && ring->usable() && i < names.size()) {
    // A batch: up to kSlots files of at most kMaxPieces pieces each, their
    // buffers below the heap's mapping threshold. A file beyond either
    // bound is read on its own.
    size_t end = i, bytes = 0;
    while (end < names.size() && end - i < kSlots && first[end].size() <= kMaxPieces &&
           (end == i || bytes + bytes_of(first[end]) <= kPieceBytes))
      bytes += bytes_of(first[end++]);
    if (end == i) {
      pieces_plain(dir_fd.get(), dir, i, names[i], first[i], then, fn);
      i++;
      continue;
    }
    const auto count = static_cast<unsigned>(end - i);
    std::vector<const std::string*> which(count);
    const std::vector<FilePiece>* pieces = first.data() + i;
    std::vector<std::vector<int>> res(count);
    std::vector<char*> dst(count);
    // Left unset: only the pages the reads fill are touched.
    std::unique_ptr<char[]> buf(new char[bytes]);
    int res_open[kSlots];
    for (unsigned k = 0, at = 0; k < count; at += static_cast<unsigned>(bytes_of(pieces[k++]))) {
      which[k] = &names[i + k];
      res_open[k] = -ECANCELED;
      res[k].assign(pieces[k].size(), -ECANCELED);
      dst[k] = buf.get() + at;
    }
    bool ran = ring->run_pieces(dir_fd.get(), which.data(), count, pieces, dst.data(), res_open, res.data());
    for (unsigned k = 0; ran && k < count; k++)
      if (res_open[k] == -EINVAL || res_open[k] == -EBADF || res_open[k] == -ECANCELED) ran = ring->broken();
    if (!ran) break;  // this batch and the rest are read plainly
    // What each file gave: the bytes of the pieces `ps` read into dst[k]
    // with results `rs`, added to what it gave before.
    std::vector<std::vector<std::string_view>> got(count);
    auto views = [&](unsigned k, const std::vector<FilePiece>& ps, const std::vector<int>& rs) {
      for (size_t j = 0; j < ps.size(); dst[k] += ps[j++].len)
        got[k].emplace_back(dst[k], rs[j] > 0 ? static_cast<size_t>(rs[j]) : 0);
    };
    for (unsigned k = 0; k < count; k++)
      if (res_open[k] >= 0) views(k, pieces[k], res[k]);
    std::unique_ptr<char[]> buf2;
    if (then) {
      std::vector<std::vector<FilePiece>> more(count);
      std::vector<std::vector<int>> res2(count);
      size_t bytes2 = 0;
      for (unsigned k = 0; k < count; k++) {
        if (res_open[k] >= 0) more[k] = then(i + k, got[k]);
        if (more[k].size() > kMaxPieces) more[k].resize(kMaxPieces);
        res2[k].assign(more[k].size(), -ECANCELED);
        bytes2 += bytes_of(more[k]);
      }
      buf2.reset(new char[bytes2 + 1]);
      for (unsigned k = 0, at = 0; k < count; at += static_cast<unsigned>(bytes_of(more[k++]))) dst[k] = buf2.get() + at;
      ring->run_pieces(-1, nullptr, count, more.data(), dst.data(), res_open, res2.data());
      for (unsigned k = 0; k < count; k++)
        if (res_open[k] >= 0) views(k, more[k], res2[k]);
    }
    for (unsigned k = 0; k < count; k++, i++) fn(i, got[k], res_open[k] < 0 ? -res_open[k] : 0);
  }
  for (; i < names.size(); i++) pieces_plain(dir_fd.ok() ? dir_fd.get() : -1, dir, i, names[i], first[i], then, fn);
}

void read_small_files_plain(bool plain) { g_plain = plain; }

bool read_small_files_batching() { return !g_plain && Ring::get(); }

void read_small_files(const std::string& dir, const std::vector<std::string>& names,
                      const std::function<void(size_t, std::string_view, int)>& fn) {
  if (names.empty()) return;
  const Fd& dir_fd = held_dir(dir);
  std::string bytes;
  size_t i = 0;
  // A few files are read plainly: setting the ring up costs about as much
  // as reading a handful of them.
  Ring* ring = g_plain || !dir_fd.ok() || names.size() < kFewFiles ? nullptr : Ring::get();
  while (ring && ring->usable() && i < names.size()) {
    const unsigned count =
        static_cast<unsigned>(std::min<size_t>(kSlots, names.size() - i));
    int res_open[kSlots], res_read[kSlots];
    for (unsigned k = 0; k < count; k++) res_open[k] = res_read[k] = -ECANCELED;
    if (!ring->run(dir_fd.get(), names, i, count, res_open, res_read)) break;
    bool too_small = false;
    for (unsigned k = 0; k < count; k++, i++) {
      const int opened = res_open[k], got = res_read[k];
      if (opened < 0 && opened != -EINVAL && opened != -EBADF && opened != -ECANCELED) {
        fn(i, {}, -opened);
      } else if (opened >= 0 && got >= 0 && static_cast<unsigned>(got) < ring->slot()) {
        fn(i, std::string_view(ring->buffer(k), static_cast<size_t>(got)), 0);
      } else {
        // A file larger than the buffer, or a request the kernel would
        // not take (then the batches stop): this one is read plainly.
        if (opened == -EINVAL || opened == -EBADF) ring->broken();
        too_small = too_small || got >= 0;
        int err = read_plain(dir_fd.get(), dir, names[i], bytes);
        fn(i, err ? std::string_view() : std::string_view(bytes), err);
      }
    }
    if (too_small) ring->widen(kBuffer);
  }
  for (; i < names.size(); i++) {
    int err = read_plain(dir_fd.ok() ? dir_fd.get() : -1, dir, names[i], bytes);
    fn(i, err ? std::string_view() : std::string_view(bytes), err);
  }
}

void batch_rings_in_heap() { g_rings_in_heap = true; }
