// Batched reading of small files, and of pieces of one file, through
// io_uring, with reading one by one as the fallback. The ring is set up once per process on first use, with a
// table of registered descriptor slots: each file is opened straight into a
// slot, read from it and closed, three requests linked so that a failed open
// cancels the other two.
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
#include <cstring>
#include <memory>

#include "store/records.h"

namespace {

constexpr unsigned kSlots = 64;          // files in flight per batch
constexpr unsigned kBuffer = 4096;       // bytes read per file at most; larger ones are read again
constexpr unsigned kFirstSlot = 1024;    // bytes per file until a larger file is met
constexpr unsigned kEntries = 4 * kSlots;  // three requests per file fit
constexpr size_t kFewFiles = 8;

bool g_plain = false;

class Ring {
 public:
  static Ring* get() {
    static Ring ring;
    return ring.ok_ ? &ring : nullptr;
  }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;

  // Opens, reads and closes names[first + k] for k < count (at most kSlots)
  // in `dir_fd`; res_open[k], res_read[k] and the bytes in buffer(k).
  // False when the ring failed as a whole (the caller then reads plainly).
  bool run(int dir_fd, const std::vector<std::string>& names, size_t first, unsigned count,
           int* res_open, int* res_read) {
    unsigned tail = sq_tail_->load(std::memory_order_relaxed);
    for (unsigned k = 0; k < count; k++) {
      open_into(tail, dir_fd, names[first + k], k, IOSQE_IO_LINK);
      io_uring_sqe* s = next_sqe(tail);
      s->opcode = IORING_OP_READ;
      s->fd = static_cast<int>(k);
      s->flags = IOSQE_FIXED_FILE | IOSQE_IO_LINK;
      s->addr = reinterpret_cast<uintptr_t>(buffer(k));
      s->len = slot_;
      s->off = 0;
      s->user_data = k << 2 | 1;
      close_slot(tail, k);
    }
    sq_tail_->store(tail, std::memory_order_release);
    return reap(3 * count, count, res_open, res_read);
  }
  // Opens names[first + k] for k < count (at most kSlots) in `dir_fd`,
  // reads `head_len` bytes at 0 into heads + k * head_len, then `again_len`
  // bytes at `again_off` into agains + k * again_len, and closes it. Hard
  // links keep the chain going past a short read; a read after a failed
  // open reads nothing of use, and its result is not looked at.
  bool run_twice(int dir_fd, const std::vector<std::string>& names, size_t first, unsigned count, char* heads,
                 unsigned head_len, char* agains, long again_off, unsigned again_len, int* res_open,
                 int* res_head, int* res_again) {
    unsigned tail = sq_tail_->load(std::memory_order_relaxed);
    const int reads = again_len ? 2 : 1;
    for (unsigned k = 0; k < count; k++) {
      open_into(tail, dir_fd, names[first + k], k, IOSQE_IO_HARDLINK);
      for (int r = 0; r < reads; r++) {
        io_uring_sqe* s = next_sqe(tail);
        s->opcode = IORING_OP_READ;
        s->fd = static_cast<int>(k);
        s->flags = IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
        s->addr = reinterpret_cast<uintptr_t>(r == 0 ? heads + size_t{k} * head_len : agains + size_t{k} * again_len);
        s->len = r == 0 ? head_len : again_len;
        s->off = r == 0 ? 0 : static_cast<uint64_t>(again_off);
        s->user_data = k << 2 | (r == 0 ? 1 : 3);
      }
      close_slot(tail, k);
    }
    sq_tail_->store(tail, std::memory_order_release);
    return reap((2 + reads) * count, count, res_open, res_head, res_again);
  }
  // Reads `len` bytes (at most kBuffer) at offs[k] of `fd` into buffer(k)
  // for k < count (at most kSlots); res[k] the result.
  // With `lens`, each read is of its own length lens[k] (at most the slot).
  bool run_reads(int fd, const long* offs, unsigned count, unsigned len, int* res, const size_t* lens = nullptr) {
    unsigned tail = sq_tail_->load(std::memory_order_relaxed);
    for (unsigned k = 0; k < count; k++) {
      io_uring_sqe* s = next_sqe(tail);
      s->opcode = IORING_OP_READ;
      s->fd = fd;
      s->addr = reinterpret_cast<uintptr_t>(buffer(k));
      s->len = lens ? static_cast<unsigned>(lens[k]) : len;
      s->off = static_cast<uint64_t>(offs[k]);
      s->user_data = k << 2 | 1;
    }
    sq_tail_->store(tail, std::memory_order_release);
    return reap(count, count, nullptr, res);
  }
  // Submits `to_submit` requests and waits for them; the results of the
  // opens (when asked for) and reads of the first `count` files.
  bool reap(unsigned to_submit, unsigned count, int* res_open, int* res_read, int* res_again = nullptr) {
    unsigned pending = to_submit;
    while (pending > 0) {
      long r = syscall(__NR_io_uring_enter, fd_, to_submit, 1, IORING_ENTER_GETEVENTS, nullptr, 0);
      if (r < 0 && errno != EINTR && errno != EAGAIN && errno != EBUSY) return broken();
      if (r > 0) to_submit -= static_cast<unsigned>(r) < to_submit ? static_cast<unsigned>(r) : to_submit;
      unsigned head = cq_head_->load(std::memory_order_relaxed);
      const unsigned ctail = cq_tail_->load(std::memory_order_acquire);
      for (; head != ctail; head++) {
        const io_uring_cqe& c = cqes_[head & cq_mask_];
        const unsigned k = static_cast<unsigned>(c.user_data >> 2);
        if (k < count) {
          if ((c.user_data & 3) == 0 && res_open) res_open[k] = c.res;
          if ((c.user_data & 3) == 1) res_read[k] = c.res;
          if ((c.user_data & 3) == 3 && res_again) res_again[k] = c.res;
        }
        pending--;
      }
      cq_head_->store(head, std::memory_order_release);
    }
    return true;
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
    io_uring_params p{};
    fd_ = static_cast<int>(syscall(__NR_io_uring_setup, kEntries, &p));
    if (fd_ < 0) return;
    if (!(p.features & IORING_FEAT_SINGLE_MMAP) || !(p.features & IORING_FEAT_NODROP)) return;
    ring_size_ = std::max<size_t>(p.sq_off.array + p.sq_entries * sizeof(unsigned),
                                  p.cq_off.cqes + p.cq_entries * sizeof(io_uring_cqe));
    void* ring = mmap(nullptr, ring_size_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_,
                      IORING_OFF_SQ_RING);
    sqes_size_ = p.sq_entries * sizeof(io_uring_sqe);
    void* sqes = mmap(nullptr, sqes_size_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_,
                      IORING_OFF_SQES);
    if (ring == MAP_FAILED || sqes == MAP_FAILED) return;
    char* base = static_cast<char*>(ring);
    sq_tail_ = reinterpret_cast<std::atomic<unsigned>*>(base + p.sq_off.tail);
    sq_mask_ = *reinterpret_cast<unsigned*>(base + p.sq_off.ring_mask);
    sq_array_ = reinterpret_cast<unsigned*>(base + p.sq_off.array);
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
  void close_slot(unsigned& tail, unsigned k) {
    io_uring_sqe* s = next_sqe(tail);
    s->opcode = IORING_OP_CLOSE;
    s->file_index = k + 1;
    s->user_data = k << 2 | 2;
  }
  io_uring_sqe* next_sqe(unsigned& tail) {
    const unsigned i = tail & sq_mask_;
    io_uring_sqe* s = &sqes_[i];
    std::memset(s, 0, sizeof *s);
    sq_array_[i] = i;
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
  unsigned slot_ = kFirstSlot;
};

// One file, read plainly: err 0 and the bytes, or the errno.
int read_plain(int dir_fd, const std::string& dir, const std::string& name, std::string& out) {
  out.clear();
  Fd fd(dir_fd >= 0 ? openat(dir_fd, name.c_str(), O_RDONLY | O_CLOEXEC)
                    : open((dir + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return errno;
  return read_fd(fd.get(), out) ? 0 : errno;
}

}  // namespace

namespace {

// The pieces at offsets[i] of lens[i] bytes (all `len` bytes when `lens`
// is null), through the ring from `fewest` pieces on.
void read_some_ranges(int fd, const std::vector<long>& offsets, size_t len, const std::vector<size_t>* lens,
                      size_t fewest, const std::function<void(size_t, std::string_view)>& fn) {
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
                         lens ? lens->data() + i : nullptr))
      break;
    for (unsigned k = 0; k < count; k++, i++) {
      if (res[k] >= 0) {
        fn(i, std::string_view(ring->buffer(k), static_cast<size_t>(res[k])));
      } else {
        if (res[k] == -EINVAL || res[k] == -EBADF) ring->broken();
        long n = pread_some(fd, bytes.data(), size_of(i), offsets[i]);
        fn(i, std::string_view(bytes.data(), n > 0 ? static_cast<size_t>(n) : 0));
      }
    }
  }
  for (; i < offsets.size(); i++) {
    long n = pread_some(fd, bytes.data(), size_of(i), offsets[i]);
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

void read_heads_twice(const std::string& dir, const std::vector<std::string>& names, size_t head_len,
                      long again_off, size_t again_len,
                      const std::function<void(size_t, std::string_view, std::string_view, int)>& fn) {
  if (names.empty()) return;
  Fd dir_fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Below 1 MiB of buffers: on the pages that print many messages, that
  // comes from the heap's large pages, not from a mapping of its own whose
  // every page is a fault. Left unset: only the pages the reads fill are
  // touched.
  const size_t per = std::min<size_t>({kSlots, names.size(), std::max<size_t>(1, (960 << 10) / head_len)});
  const std::unique_ptr<char[]> heads(new char[per * head_len]), agains(new char[per * again_len + 1]);
  size_t i = 0;
  Ring* ring = g_plain || !dir_fd.ok() || names.size() < kFewFiles ? nullptr : Ring::get();
  while (ring && ring->usable() && i < names.size()) {
    const unsigned count = static_cast<unsigned>(std::min<size_t>(per, names.size() - i));
    int res_open[kSlots], res_head[kSlots], res_again[kSlots];
    for (unsigned k = 0; k < count; k++) res_open[k] = res_head[k] = -ECANCELED, res_again[k] = 0;
    if (!ring->run_twice(dir_fd.get(), names, i, count, heads.get(), static_cast<unsigned>(head_len), agains.get(),
                         again_off, static_cast<unsigned>(again_len), res_open, res_head, res_again))
      break;
    for (unsigned k = 0; k < count; k++, i++) {
      const int opened = res_open[k];
      if (opened == -EINVAL || opened == -EBADF || opened == -ECANCELED) {
        ring->broken();
        break;
      }
      if (opened < 0) {
        fn(i, {}, {}, -opened);
      } else if (res_head[k] < 0 || res_again[k] < 0) {
        fn(i, {}, {}, res_head[k] < 0 ? -res_head[k] : -res_again[k]);
      } else {
        fn(i, std::string_view(heads.get() + k * head_len, static_cast<size_t>(res_head[k])),
           std::string_view(agains.get() + k * again_len, static_cast<size_t>(res_again[k])), 0);
      }
    }
  }
  // One by one: where the ring is not to be had, or after it failed.
  for (; i < names.size(); i++) {
    Fd fd(dir_fd.ok() ? openat(dir_fd.get(), names[i].c_str(), O_RDONLY | O_CLOEXEC)
                      : open((dir + "/" + names[i]).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) {
      fn(i, {}, {}, errno);
      continue;
    }
    const long head = pread_some(fd.get(), heads.get(), head_len, 0);
    const long again = head < 0 ? -1 : again_len ? pread_some(fd.get(), agains.get(), again_len, again_off) : 0;
    if (head < 0 || again < 0)
      fn(i, {}, {}, errno);
    else
      fn(i, std::string_view(heads.get(), static_cast<size_t>(head)),
         std::string_view(agains.get(), static_cast<size_t>(again)), 0);
  }
}

void read_small_files_plain(bool plain) { g_plain = plain; }

bool read_small_files_batching() { return !g_plain && Ring::get(); }

void read_small_files(const std::string& dir, const std::vector<std::string>& names,
                      const std::function<void(size_t, std::string_view, int)>& fn) {
  if (names.empty()) return;
  Fd dir_fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
