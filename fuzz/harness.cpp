#include "fuzz/harness.h"

#include "engine/image.h"
#include "engine/update.h"
#include "os/time.h"
#include "os/virtual_time.h"
#include "transport/aspi.h"
#include "transport/transport.h"

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

std::string s_dir;

void RemoveScratch() {
    if (s_dir.empty()) return;
    std::string command = "rm -rf '" + s_dir + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", s_dir.c_str());
}

}  // namespace

void FuzzInit() {
    static bool done = false;
    if (done) return;
    done = true;
    setenv("LC_ALL", "C", 1);
    // Made on the thread that runs the inputs, and never destroyed: workers of the
    // last input may still be ending at exit.
    static VirtualTime* clock = new VirtualTime();
    OsSetTime(clock);
    FuzzCheck(AllocateTransferBuffers(), "transfer buffers");
}

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
    // Whole buffers: a byte left by an earlier input would make a run depend on it.
    std::memset(g_dataIn, 0, TRANSFER_BUFFER_SIZE);
    std::memset(g_dataOut, 0, TRANSFER_BUFFER_SIZE);
    ResetCommandState();
}

const std::string& FuzzScratchDir() {
    if (s_dir.empty()) {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/qm-fuzz-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back(0);
        FuzzCheck(mkdtemp(name.data()) != nullptr, "scratch folder");
        s_dir = name.data();
        std::atexit(RemoveScratch);
    }
    return s_dir;
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
