#include "fuzz/harness.h"

#include "engine/image.h"
#include "engine/update.h"
#include "os/time.h"
#include "os/virtual_time.h"
#include "testing/scratch_dir.h"
#include "transport/aspi.h"
#include "transport/transport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void FuzzCheck(bool ok, const char* rule) {
    if (ok) return;
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::abort();
}

namespace {

ScratchDir s_dir;

void RemoveScratch() {
    const std::string path = s_dir.Path();
    if (!s_dir.Remove()) std::fprintf(stderr, "could not remove %s\n", path.c_str());
}

// The virtual clock, with one thread kept for the next worker: a thread start of
// its own (and its sanitizer set-up) for each of an input's workers was much of a
// run. A worker still starts at once and runs beside its starter as on its own
// thread, so bounded waits time out and workers may overlap as before; while the
// kept thread is taken (its worker runs on, or its handle is still open), another
// worker gets a new thread of the clock's.
class FuzzTime : public TimePort {
public:
    explicit FuzzTime(VirtualTime& clock) : m_clock(clock) {
        m_go = m_clock.CreateEvent();
        m_done = m_clock.CreateEvent();
        FuzzCheck(m_go && m_done && m_clock.StartThread(&FuzzTime::Keep, this) != nullptr, "kept worker thread");
    }

    uint64_t NowMs() override { return m_clock.NowMs(); }
    void Sleep(uint32_t ms) override { m_clock.Sleep(ms); }
    OsHandle CreateEvent() override { return m_clock.CreateEvent(); }
    void SetEvent(OsHandle event) override { m_clock.SetEvent(event); }
    bool WaitEvent(OsHandle event, uint32_t timeoutMs) override { return m_clock.WaitEvent(event, timeoutMs); }
    void CloseEvent(OsHandle event) override { m_clock.CloseEvent(event); }

    OsHandle StartThread(void (*proc)(void*), void* arg) override {
        if (!proc) return nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // Free once its last worker's handle is closed and its end has been seen.
            if (m_handle == nullptr && (m_seenEnd || m_clock.WaitEvent(m_done, 0))) {
                m_proc = proc;
                m_arg = arg;
                m_seenEnd = false;
                m_handle = new Handle;
                m_clock.SetEvent(m_go);  // the kept thread counts as running from here
                return m_handle;
            }
        }
        return m_clock.StartThread(proc, arg);
    }

    bool WaitThread(OsHandle thread, uint32_t timeoutMs) override {
        bool kept = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            kept = thread == m_handle;
            if (kept && m_seenEnd) return true;
        }
        // Any other handle is the clock's (or one freed here: a use the sanitizer reports).
        if (!kept) return m_clock.WaitThread(thread, timeoutMs);
        if (!m_clock.WaitEvent(m_done, timeoutMs)) return false;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seenEnd = true;
        return true;
    }

    void CloseThread(OsHandle thread) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (thread == m_handle) {
                delete m_handle;
                m_handle = nullptr;
                return;
            }
        }
        m_clock.CloseThread(thread);
    }

private:
    // A handle of a worker on the kept thread: its own allocation, freed when
    // closed, so that a closed handle is a freed one as with the clock's threads.
    struct Handle {
        char unused = 0;
    };

    static void Keep(void* self) {
        FuzzTime& t = *static_cast<FuzzTime*>(self);
        for (;;) {
            t.m_clock.WaitEvent(t.m_go, OS_WAIT_FOREVER);
            t.m_proc(t.m_arg);
            t.m_clock.SetEvent(t.m_done);
        }
    }

    VirtualTime& m_clock;
    OsHandle m_go = nullptr, m_done = nullptr;
    std::mutex m_mutex;
    // The worker: written before m_go is set, read after the kept thread took it.
    void (*m_proc)(void*) = nullptr;
    void* m_arg = nullptr;
    Handle* m_handle = nullptr;  // the open handle of the kept thread's worker
    bool m_seenEnd = true;       // a wait saw the kept thread's last worker end
};

}  // namespace

void FuzzInit() {
    static bool done = false;
    if (done) return;
    done = true;
    setenv("LC_ALL", "C", 1);
    // Made on the thread that runs the inputs, and never destroyed: the kept
    // thread waits for work until the process ends.
    static VirtualTime* clock = new VirtualTime();
    static FuzzTime* time = new FuzzTime(*clock);
    OsSetTime(time);
    FuzzCheck(AllocateTransferBuffers(), "transfer buffers");
}

SimDevicePort& FuzzDrives() {
    static SimDevicePort* port = [] {
        SimDevicePort* made = new SimDevicePort();
        made->AddDrive();
        return made;
    }();
    return *port;
}

SimDrive& FuzzDrive() { return *FuzzDrives().Drive('D'); }

void FuzzResetEngine() {
    WaitForWorker(OS_WAIT_FOREVER);
    CloseDevice(g_hDevice);
    g_transport = TRANSPORT_SPTI;
    g_selectedDevice = 0;
    g_scsiStatus = 0;
    g_workerOp = 0;
    g_discPresent = 0;
    std::memset(g_devices, 0, sizeof g_devices);
    std::memset(&g_sptd, 0, sizeof g_sptd);
    std::memset(g_inquiryData, 0, sizeof g_inquiryData);
    g_inquiryLength = 0;
    g_bytesTransferred = 0;
    std::memset(g_imagePath, 0, sizeof g_imagePath);
    g_checkedImage = CheckedImage();
    // A byte left by an earlier input would make a run depend on it. Only what a
    // run can have written needs clearing: the image passes through the buffers a
    // block at a time, and a command moves at most its transfer length. The rest
    // is still as allocated: zero.
    uint32_t reach = IMAGE_BLOCK_SIZE;
    for (const SimCommandRecord& r : FuzzDrive().Transcript()) reach = std::max(reach, r.dataLength);
    reach = std::min(reach, TRANSFER_BUFFER_SIZE);
    std::memset(g_dataIn, 0, reach);
    std::memset(g_dataOut, 0, reach);
    FuzzDrives().Reset();
    ResetCommandState();
}

const std::string& FuzzScratchDir() {
    if (!s_dir.Made()) {
        // In memory where there is a place for it: each input is written there.
        s_dir = ScratchDir("qm-fuzz", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "");
        FuzzCheck(s_dir.Made(), "scratch folder");
        std::atexit(RemoveScratch);
    }
    return s_dir.Path();
}

bool FuzzWriteFile(const std::string& path, const uint8_t* data, size_t size, size_t length) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    // The zeros up to `length` are a hole: a padded 2 MB image costs no writing.
    ok = ok && ::ftruncate(fd, static_cast<off_t>(length < size ? size : length)) == 0;
    return ::close(fd) == 0 && ok;
}

void FuzzHost::PostWorkerNotify(unsigned code, long lParam) {
    (void)lParam;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notes.push_back(code);
}

int FuzzHost::ShowMessageBox(const char* text, const char* caption, unsigned style) {
    (void)style;
    FuzzCheck(text != nullptr && caption != nullptr, "message box with a text and a caption");
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_boxes;
    return 1;  // IDOK
}

std::vector<unsigned> FuzzHost::Notes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notes;
}

int FuzzHost::Boxes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
}
