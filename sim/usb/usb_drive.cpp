// qm-usb-drive: the emulated drive as a USB DVD drive, for a Linux kernel to
// drive through its own usb-storage and sr drivers. A FunctionFS function:
// mass storage, SCSI transparent command set, Bulk-Only Transport, one LUN.
//
//   qm-usb-drive --ffs DIR --scenario FILE [--state DIR] [--drive LETTER]
//
// DIR is the mounted FunctionFS instance; its ep1 and ep2 appear once the
// descriptors are written, after which a UDC may be bound. The state folder
// gets the drive server's files: transcript.txt (a line per command, as it
// completes, the kernel's own commands with the rest) and status.txt (at the
// start, on SIGUSR1, and at the end on SIGTERM, SIGINT or SIGHUP).
#include "sim/drive.h"
#include "sim/scenario.h"
#include "sim/usb/bulk_only.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <endian.h>
#include <fcntl.h>
#include <fstream>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char kUsage[] = "usage: qm-usb-drive --ffs DIR --scenario FILE [--state DIR] [--drive LETTER]\n";

// Class requests of Bulk-Only Transport on the control endpoint.
constexpr uint8_t kRequestReset = 0xFF;
constexpr uint8_t kRequestGetMaxLun = 0xFE;

struct InterfaceDescriptors {
    usb_interface_descriptor intf;
    usb_endpoint_descriptor_no_audio in;
    usb_endpoint_descriptor_no_audio out;
} __attribute__((packed));

struct Descriptors {
    usb_functionfs_descs_head_v2 header;
    __le32 fsCount;
    __le32 hsCount;
    InterfaceDescriptors fs, hs;
} __attribute__((packed));

struct Strings {
    usb_functionfs_strings_head header;
    __le16 language;
    char name[sizeof "TORVELL DVD-RW"];
} __attribute__((packed));

InterfaceDescriptors Interface(uint16_t maxPacket) {
    InterfaceDescriptors d{};
    d.intf.bLength = sizeof d.intf;
    d.intf.bDescriptorType = USB_DT_INTERFACE;
    d.intf.bNumEndpoints = 2;
    d.intf.bInterfaceClass = USB_CLASS_MASS_STORAGE;
    d.intf.bInterfaceSubClass = 0x06;  // SCSI transparent command set
    d.intf.bInterfaceProtocol = 0x50;  // Bulk-Only Transport
    d.intf.iInterface = 1;
    // ep1 is bulk IN, ep2 bulk OUT, in this order (FunctionFS names the files so).
    d.in.bLength = d.out.bLength = sizeof d.in;
    d.in.bDescriptorType = d.out.bDescriptorType = USB_DT_ENDPOINT;
    d.in.bEndpointAddress = 1 | USB_DIR_IN;
    d.out.bEndpointAddress = 2 | USB_DIR_OUT;
    d.in.bmAttributes = d.out.bmAttributes = USB_ENDPOINT_XFER_BULK;
    d.in.wMaxPacketSize = d.out.wMaxPacketSize = htole16(maxPacket);
    return d;
}

bool WriteAll(int fd, const void* data, size_t size) {
    return ::write(fd, data, size) == ssize_t(size);
}

// The endpoints of a FunctionFS instance. The command loop runs on its own
// thread; the control endpoint's events (enable, disable, the class requests)
// on another, which interrupts the loop's transfer with a signal when the host
// resets the device.
class FunctionFsPipe : public BotPipe {
public:
    FunctionFsPipe(int in, int out, bool verbose) : m_in(in), m_out(out), m_verbose(verbose) {}

    void SetLoopThread(pthread_t thread) { m_loop = thread; }

    long Receive(uint8_t* to, size_t size) override {
        if (!AwaitEnabled()) return -1;
        const ssize_t n = ::read(m_out, to, size);
        if (n < 0) Failed("receive", size);
        return n < 0 ? -1 : long(n);
    }
    bool Send(const uint8_t* from, size_t size) override {
        if (!AwaitEnabled()) return false;
        const ssize_t n = ::write(m_in, from, size);
        if (n != ssize_t(size)) Failed("send", size);
        return n == ssize_t(size);
    }
    // FunctionFS halts an endpoint on a transfer in the wrong direction.
    void HaltIn() override { (void)!::read(m_in, nullptr, 0); }
    void HaltOut() override { (void)!::write(m_out, nullptr, 0); }

    void AwaitReset() override {
        std::unique_lock<std::mutex> lock(m_mutex);
        const uint64_t seen = m_resets;
        m_changed.wait(lock, [&] { return m_resets != seen; });
    }

    // From the control thread.
    void Enabled(bool enabled) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_enabled = enabled;
            if (!enabled) ++m_resets;
        }
        m_changed.notify_all();
        if (!enabled) Interrupt();
    }
    void Reset() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_resets;
        }
        m_changed.notify_all();
        Interrupt();
    }

private:
    void Failed(const char* what, size_t size) {
        if (m_verbose) std::fprintf(stderr, "qm-usb-drive: %s of %zu bytes: %s\n", what, size, std::strerror(errno));
    }
    bool AwaitEnabled() {
        std::unique_lock<std::mutex> lock(m_mutex);
        const uint64_t seen = m_resets;
        m_changed.wait(lock, [&] { return m_enabled || m_resets != seen; });
        return m_enabled && m_resets == seen;
    }
    // A transfer the host gave up on stays queued until the loop's read or
    // write returns: the signal (no SA_RESTART) makes it return EINTR.
    void Interrupt() { pthread_kill(m_loop, SIGUSR2); }

    int m_in, m_out;
    bool m_verbose;
    pthread_t m_loop{};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_enabled = false;
    uint64_t m_resets = 0;
};

void Acknowledge(int ep0) { (void)!::read(ep0, nullptr, 0); }
void StallControl(int ep0, bool hostToDevice) {
    // The wrong direction stalls the request.
    if (hostToDevice)
        (void)!::write(ep0, nullptr, 0);
    else
        (void)!::read(ep0, nullptr, 0);
}

void ControlLoop(int ep0, FunctionFsPipe* pipe, bool verbose) {
    usb_functionfs_event events[4];
    for (;;) {
        const ssize_t n = ::read(ep0, events, sizeof events);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::fprintf(stderr, "qm-usb-drive: ep0: %s\n", n < 0 ? std::strerror(errno) : "closed");
            _exit(1);
        }
        for (size_t i = 0; i < size_t(n) / sizeof events[0]; ++i) {
            const usb_functionfs_event& e = events[i];
            if (verbose) {
                timespec now{};
                clock_gettime(CLOCK_BOOTTIME, &now);
                std::fprintf(stderr, "qm-usb-drive: %ld.%06ld event %d request %02x/%02x\n", long(now.tv_sec),
                             now.tv_nsec / 1000, int(e.type), e.u.setup.bRequestType, e.u.setup.bRequest);
            }
            switch (e.type) {
            case FUNCTIONFS_ENABLE: pipe->Enabled(true); break;
            case FUNCTIONFS_DISABLE:
            case FUNCTIONFS_UNBIND: pipe->Enabled(false); break;
            case FUNCTIONFS_SETUP: {
                const usb_ctrlrequest& r = e.u.setup;
                const bool hostToDevice = (r.bRequestType & USB_DIR_IN) == 0;
                const bool classToInterface =
                    (r.bRequestType & (USB_TYPE_MASK | USB_RECIP_MASK)) == (USB_TYPE_CLASS | USB_RECIP_INTERFACE);
                if (classToInterface && r.bRequest == kRequestGetMaxLun && !hostToDevice &&
                    le16toh(r.wLength) >= 1) {
                    const uint8_t maxLun = 0;
                    (void)!::write(ep0, &maxLun, 1);
                } else if (classToInterface && r.bRequest == kRequestReset && hostToDevice &&
                           r.wLength == 0) {
                    std::fprintf(stderr, "qm-usb-drive: Bulk-Only reset\n");
                    pipe->Reset();
                    Acknowledge(ep0);
                } else {
                    StallControl(ep0, hostToDevice);
                }
                break;
            }
            default: break;
            }
        }
    }
}

// The state folder, as the drive server keeps it.
class StateFiles {
public:
    StateFiles(std::string dir, const SimDrive* drive) : m_dir(std::move(dir)), m_drive(drive) {}

    void Start() {
        if (m_dir.empty()) return;
        std::ofstream(m_dir + "/transcript.txt", std::ios::trunc);
        WriteStatus();
    }
    void Recorded(size_t index, bool verbose) {
        const std::string line = m_drive->Record(index).Format(m_drive->Letter());
        std::lock_guard<std::mutex> lock(m_mutex);
        if (verbose) std::fprintf(stderr, "%s\n", line.c_str());
        if (!m_dir.empty()) std::ofstream(m_dir + "/transcript.txt", std::ios::app) << line << '\n';
    }
    void WriteStatus() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_dir.empty()) return;
        const std::string temp = m_dir + "/status.txt.new";
        std::ofstream(temp, std::ios::trunc) << m_drive->StatusLine() << '\n';
        std::rename(temp.c_str(), (m_dir + "/status.txt").c_str());
    }

private:
    std::string m_dir;
    const SimDrive* m_drive;
    std::mutex m_mutex;
};

void NoAction(int) {}

}  // namespace

int main(int argc, char** argv) {
    std::string ffsDir, scenarioPath, stateDir;
    char letter = 0;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--ffs" && hasValue)
            ffsDir = argv[++i];
        else if (arg == "--scenario" && hasValue)
            scenarioPath = argv[++i];
        else if (arg == "--state" && hasValue)
            stateDir = argv[++i];
        else if (arg == "--drive" && hasValue)
            letter = argv[++i][0];
        else if (arg == "--verbose")
            verbose = true;
        else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (ffsDir.empty() || scenarioPath.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    std::vector<SimDriveConfig> configs;
    std::string error;
    if (!SimLoadScenario(scenarioPath, &configs, &error)) {
        std::fprintf(stderr, "qm-usb-drive: %s\n", error.c_str());
        return 1;
    }
    const SimDriveConfig* config = &configs.front();
    for (const auto& c : configs)
        if (c.letter == letter) config = &c;
    if (letter && config->letter != letter) {
        std::fprintf(stderr, "qm-usb-drive: no drive %c in %s\n", letter, scenarioPath.c_str());
        return 1;
    }
    SimDrive drive(*config);
    StateFiles state(stateDir, &drive);
    state.Start();

    const int ep0 = ::open((ffsDir + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (ep0 < 0) {
        std::fprintf(stderr, "qm-usb-drive: %s/ep0: %s\n", ffsDir.c_str(), std::strerror(errno));
        return 1;
    }
    Descriptors descriptors{};
    descriptors.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    descriptors.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    descriptors.header.length = htole32(sizeof descriptors);
    descriptors.fsCount = descriptors.hsCount = htole32(3);
    descriptors.fs = Interface(64);
    descriptors.hs = Interface(512);
    Strings strings{};
    strings.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
    strings.header.length = htole32(sizeof strings);
    strings.header.str_count = htole32(1);
    strings.header.lang_count = htole32(1);
    strings.language = htole16(0x0409);
    std::memcpy(strings.name, "TORVELL DVD-RW", sizeof strings.name);
    if (!WriteAll(ep0, &descriptors, sizeof descriptors) || !WriteAll(ep0, &strings, sizeof strings)) {
        std::fprintf(stderr, "qm-usb-drive: descriptors refused: %s\n", std::strerror(errno));
        return 1;
    }
    const int in = ::open((ffsDir + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
    const int out = ::open((ffsDir + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
    if (in < 0 || out < 0) {
        std::fprintf(stderr, "qm-usb-drive: %s/ep1, ep2: %s\n", ffsDir.c_str(), std::strerror(errno));
        return 1;
    }

    // SIGUSR2 interrupts the loop's transfer (see FunctionFsPipe); the end and
    // status signals are taken by a thread of their own.
    struct sigaction interrupt {};
    interrupt.sa_handler = NoAction;
    sigaction(SIGUSR2, &interrupt, nullptr);
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    FunctionFsPipe pipe(in, out, verbose);
    pipe.SetLoopThread(pthread_self());
    std::thread(ControlLoop, ep0, &pipe, verbose).detach();
    std::thread([&state, signals] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) continue;
            state.WriteStatus();
            if (signal != SIGUSR1) _exit(0);
        }
    }).detach();

    BulkOnlyTarget target(&drive, [&state, verbose](size_t index) { state.Recorded(index, verbose); });
    static const char* const kOutcomes[] = {"answered", "invalid command block wrapper: halted until a reset",
                                            "no answer: waited for a reset", "a transfer failed"};
    for (;;) {
        const BotOutcome outcome = target.ServeOne(&pipe);
        if (outcome != BotOutcome::Answered) std::fprintf(stderr, "qm-usb-drive: %s\n", kOutcomes[int(outcome)]);
    }
}
