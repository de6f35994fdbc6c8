/* libqm_sgpreload.so: makes configured paths behave as SCSI devices whose
 * SG_IO requests the emulated drive server answers.
 *
 *   QM_SG_DEVICE  PATH[=LETTER][;PATH[=LETTER]...]  the device paths; LETTER picks
 *                 the server's drive (default: its first drive)
 *   QM_SG_SOCKET  the server's socket
 *   QM_SG_DEBUG   set: one line on stderr per forwarded request
 *
 * A descriptor is recognised on every ioctl by what fstat says of it (device and
 * inode of a configured path), not by having seen its open: under Wine the
 * wineserver opens the device and passes the descriptor to the process that
 * issues the ioctl. A configured path that does not exist opens as an anonymous
 * memory file that is remembered instead. Everything else goes to the C library.
 *
 * An open of a configured path with O_EXCL (and without O_CREAT) claims the drive
 * as the kernel claims a block device: while the descriptor stays open, another
 * such open fails with EBUSY, in any process that talks to the same server; plain
 * opens are not affected. The claim is an flock on "<socket>.<drive>.excl" beside
 * the server's socket, so the kernel drops it when the holder closes or dies. */
#include "sim/preload/next_symbol.h"
#include "sim/wire.h"

#include <ctype.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/bsg.h>
#include <linux/cdrom.h>
#include <poll.h>
#include <pthread.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

#ifndef BLKSECTGET
#define BLKSECTGET _IO(0x12, 103)
#endif

#define MAX_DEVICES 26
#define MAX_ANONYMOUS 256
#define MAX_CLAIMS 64
#define SG_VERSION 30527
#define DEFAULT_TIMEOUT_MS 60000
#define RESERVED_SIZE 0x200000
#define DID_NO_CONNECT 0x01
#define DID_TIME_OUT 0x03
#define DID_ERROR 0x07
#define DRIVER_SENSE 0x08

struct device {
    char path[PATH_MAX];
    char letter; /* 0: the server's first drive */
};

/* stat64 throughout: in the 32-bit copy plain stat fails with EOVERFLOW on a
 * file whose inode number needs more than 32 bits (overlay and other large
 * file systems), and the device would go unrecognised. */
struct anonymous {
    int fd;
    dev_t dev;
    ino64_t ino;
    int device;
};

static pthread_once_t g_once = PTHREAD_ONCE_INIT;
static struct device g_devices[MAX_DEVICES];
static int g_deviceCount;
static char g_socket[sizeof(((struct sockaddr_un*)0)->sun_path)];
static int g_debug;

static pthread_mutex_t g_anonymousMutex = PTHREAD_MUTEX_INITIALIZER;
static struct anonymous g_anonymous[MAX_ANONYMOUS];
static int g_anonymousCount;

/* Exclusive opens: the device descriptor and the lock file descriptor that holds
 * its claim. Guarded by g_anonymousMutex. */
struct claim {
    int fd;
    int lockFd;
};
static struct claim g_claims[MAX_CLAIMS];
static int g_claimCount;

typedef int (*open_fn)(const char*, int, ...);
typedef int (*openat_fn)(int, const char*, int, ...);
typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef int (*close_fn)(int);

static void* Next(const char* name) { return NextSymbol("qm_sgpreload", name); }

static void LoadConfig(void) {
    const char* devices = getenv("QM_SG_DEVICE");
    const char* socketPath = getenv("QM_SG_SOCKET");
    const char* debug = getenv("QM_SG_DEBUG");
    g_debug = debug && *debug;
    if (socketPath && strlen(socketPath) < sizeof g_socket) strcpy(g_socket, socketPath);
    if (!devices) return;
    const char* p = devices;
    while (*p && g_deviceCount < MAX_DEVICES) {
        const char* end = strchr(p, ';');
        size_t n = end ? (size_t)(end - p) : strlen(p);
        struct device* d = &g_devices[g_deviceCount];
        d->letter = 0;
        if (n >= 3 && p[n - 2] == '=' && isalpha((unsigned char)p[n - 1])) {
            d->letter = (char)toupper((unsigned char)p[n - 1]);
            n -= 2;
        }
        if (n > 0 && n < sizeof d->path) {
            memcpy(d->path, p, n);
            d->path[n] = '\0';
            ++g_deviceCount;
        }
        p += end ? (size_t)(end - p) + 1 : strlen(p);
    }
    if (g_debug)
        for (int i = 0; i < g_deviceCount; ++i)
            fprintf(stderr, "qm_sgpreload: device %s -> drive %c via %s\n", g_devices[i].path,
                    g_devices[i].letter ? g_devices[i].letter : '*', g_socket);
}

static void Init(void) { pthread_once(&g_once, LoadConfig); }

/* The configured device a path names when the path does not exist, or -1. */
static int MissingDevice(const char* path) {
    Init();
    if (!path) return -1;
    for (int i = 0; i < g_deviceCount; ++i) {
        struct stat64 st;
        if (strcmp(path, g_devices[i].path) == 0 && stat64(path, &st) != 0 && errno == ENOENT) return i;
    }
    return -1;
}

static int MissingDeviceAt(int dirfd, const char* path) {
    if (!path || (path[0] != '/' && dirfd != AT_FDCWD)) return -1;
    return MissingDevice(path);
}

/* The configured device an exclusive open of `path` claims, or -1. */
static int ClaimedDevice(const char* path, int flags) {
    Init();
    if (!path || !(flags & O_EXCL) || (flags & O_CREAT)) return -1;
    for (int i = 0; i < g_deviceCount; ++i)
        if (strcmp(path, g_devices[i].path) == 0) return i;
    return -1;
}

static int ClaimedDeviceAt(int dirfd, const char* path, int flags) {
    if (!path || (path[0] != '/' && dirfd != AT_FDCWD)) return -1;
    return ClaimedDevice(path, flags);
}

/* Takes the drive's claim: the lock file's descriptor, or -1 with errno (EBUSY
 * while another open holds it). */
static int Claim(int device) {
    if (!g_socket[0]) { /* no server, no drive to claim */
        errno = ENXIO;
        return -1;
    }
    char path[sizeof g_socket + 16];
    const char letter = g_devices[device].letter ? g_devices[device].letter : '0';
    snprintf(path, sizeof path, "%s.%c.excl", g_socket, letter);
    static open_fn realOpen;
    if (!realOpen) realOpen = (open_fn)Next("open");
    const int lockFd = realOpen(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) return -1;
    if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ((close_fn)Next("close"))(lockFd);
        errno = error;
        return -1;
    }
    return lockFd;
}

/* Ties the claim to the descriptor that was opened with it; a failed open gives
 * the claim back. Returns `fd`. */
static int Hold(int fd, int lockFd) {
    if (lockFd < 0) return fd;
    const int error = errno;
    int kept = 0;
    if (fd >= 0) {
        pthread_mutex_lock(&g_anonymousMutex);
        if (g_claimCount < MAX_CLAIMS) {
            g_claims[g_claimCount].fd = fd;
            g_claims[g_claimCount].lockFd = lockFd;
            ++g_claimCount;
            kept = 1;
        }
        pthread_mutex_unlock(&g_anonymousMutex);
    }
    if (!kept) {
        const close_fn realClose = (close_fn)Next("close");
        realClose(lockFd);
        if (fd >= 0) {
            realClose(fd);
            errno = EMFILE;
            return -1;
        }
    }
    errno = error;
    return fd;
}

static int OpenAnonymous(int device, int flags) {
    const int fd = memfd_create("qm-sg-device", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
    if (fd < 0) return -1;
    struct stat64 st;
    if (fstat64(fd, &st) != 0) {
        ((close_fn)Next("close"))(fd);
        errno = EIO;
        return -1;
    }
    pthread_mutex_lock(&g_anonymousMutex);
    int kept = 0;
    if (g_anonymousCount < MAX_ANONYMOUS) {
        struct anonymous* a = &g_anonymous[g_anonymousCount++];
        a->fd = fd;
        a->dev = st.st_dev;
        a->ino = st.st_ino;
        a->device = device;
        kept = 1;
    }
    pthread_mutex_unlock(&g_anonymousMutex);
    if (!kept) {
        ((close_fn)Next("close"))(fd);
        errno = EMFILE;
        return -1;
    }
    return fd;
}

/* The configured device behind a descriptor, or -1. */
static int DeviceOf(int fd) {
    Init();
    if (g_deviceCount == 0) return -1;
    struct stat64 st;
    if (fstat64(fd, &st) != 0) return -1;
    for (int i = 0; i < g_deviceCount; ++i) {
        struct stat64 configured;
        if (stat64(g_devices[i].path, &configured) == 0 && configured.st_dev == st.st_dev &&
            configured.st_ino == st.st_ino)
            return i;
    }
    int device = -1;
    pthread_mutex_lock(&g_anonymousMutex);
    for (int i = 0; i < g_anonymousCount; ++i)
        if (g_anonymous[i].dev == st.st_dev && g_anonymous[i].ino == st.st_ino) device = g_anonymous[i].device;
    pthread_mutex_unlock(&g_anonymousMutex);
    return device;
}

static int ReadAll(int fd, void* to, size_t size, int timeoutMs) {
    uint8_t* p = to;
    while (size > 0) {
        struct pollfd pfd = {fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return ready == 0 ? -2 : -1; /* -2: timed out */
        const ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
        size -= (size_t)n;
    }
    return 0;
}

static int WriteAll(int fd, const void* from, size_t size) {
    const uint8_t* p = from;
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
        size -= (size_t)n;
    }
    return 0;
}

struct request {
    int device;
    const uint8_t* cdb;
    unsigned cdbLen;
    int direction; /* 0 out, 1 in, 2 none */
    uint8_t* data;
    uint32_t length;
    uint8_t* sense;
    uint32_t senseLength;
    uint32_t timeoutMs;
};

struct outcome {
    int status;
    int host;
    int driver;
    uint32_t transferred;
    int32_t resid; /* as the adapter reports it: may be wrong */
    uint32_t senseWritten;
};

/* Connections to the server are kept and reused: a command then costs no
 * connect, and the server no thread start. A command takes an idle one (or
 * makes one) and gives it back after a whole reply, so two commands in flight
 * at once, from two threads, still have a connection each, and one the drive
 * is slow to answer holds up no other. Before reuse a connection is checked to
 * be the socket this process made: after a fork it is the parent's, and a host
 * that closed the descriptor may have another file under its number now. */
struct connection {
    int fd;
    pid_t pid;
    dev_t dev;
    ino_t ino;
};

#define MAX_IDLE 8
static pthread_mutex_t g_idleMutex = PTHREAD_MUTEX_INITIALIZER;
static struct connection g_idle[MAX_IDLE];
static int g_idleCount;

static int StillOurs(const struct connection* c) {
    struct stat st;
    return c->pid == getpid() && fstat(c->fd, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == c->dev &&
           st.st_ino == c->ino;
}

/* A connection for one command; *reused says whether it served before. -1
 * with errno when the server cannot be reached. */
static int TakeConnection(struct connection* c, int* reused) {
    pthread_mutex_lock(&g_idleMutex);
    while (g_idleCount > 0) {
        *c = g_idle[--g_idleCount];
        if (StillOurs(c)) {
            pthread_mutex_unlock(&g_idleMutex);
            *reused = 1;
            return c->fd;
        }
        /* Not ours any more: the number is someone else's now, left alone. */
    }
    pthread_mutex_unlock(&g_idleMutex);
    *reused = 0;
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, g_socket);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct stat st;
    if (!g_socket[0] || connect(fd, (struct sockaddr*)&address, sizeof address) != 0 || fstat(fd, &st) != 0) {
        ((close_fn)Next("close"))(fd);
        errno = ENXIO;
        return -1;
    }
    c->fd = fd;
    c->pid = getpid();
    c->dev = st.st_dev;
    c->ino = st.st_ino;
    return fd;
}

static void GiveBackConnection(const struct connection* c) {
    pthread_mutex_lock(&g_idleMutex);
    const int kept = g_idleCount < MAX_IDLE;
    if (kept) g_idle[g_idleCount++] = *c;
    pthread_mutex_unlock(&g_idleMutex);
    if (!kept) ((close_fn)Next("close"))(c->fd);
}

/* Sends one command to the server. -1 with errno when the server cannot be
 * reached; otherwise the outcome, a time-out or lost answer told as host status. */
static int Forward(const struct request* rq, struct outcome* out) {
    memset(out, 0, sizeof *out);
    if (rq->cdbLen < 1 || rq->cdbLen > 16 || rq->length > QM_WIRE_MAX_DATA) {
        errno = EINVAL;
        return -1;
    }
    struct qm_wire_request wire;
    memset(&wire, 0, sizeof wire);
    wire.magic = QM_WIRE_MAGIC;
    wire.kind = QM_WIRE_COMMAND;
    wire.drive = (uint8_t)g_devices[rq->device].letter;
    wire.cdb_len = (uint8_t)rq->cdbLen;
    wire.direction = (uint8_t)rq->direction;
    memcpy(wire.cdb, rq->cdb, rq->cdbLen);
    wire.data_length = rq->direction == 2 ? 0 : rq->length;
    wire.sense_length = rq->senseLength;
    wire.timeout_ms = rq->timeoutMs;

    const close_fn realClose = (close_fn)Next("close");
    struct connection c;
    int fd, sent, reused;
    for (;;) {
        fd = TakeConnection(&c, &reused);
        if (fd < 0) return -1;
        sent = WriteAll(fd, &wire, sizeof wire);
        if (sent == 0 || !reused) break;
        /* A kept connection that the server let go (it was restarted): nothing
         * of the request got through, so it goes again on the next one. */
        realClose(fd);
    }
    struct qm_wire_reply reply;
    int got = -1;
    if (sent == 0 && (rq->direction != 0 || WriteAll(fd, rq->data, wire.data_length) == 0)) {
        got = ReadAll(fd, &reply, sizeof reply, (int)rq->timeoutMs);
        if (got == 0 && (reply.magic != QM_WIRE_MAGIC || reply.data_length > rq->length ||
                         reply.sense_length > rq->senseLength))
            got = -1;
        if (got == 0 && reply.data_length) got = ReadAll(fd, rq->data, reply.data_length, (int)rq->timeoutMs);
        if (got == 0 && reply.sense_length) got = ReadAll(fd, rq->sense, reply.sense_length, (int)rq->timeoutMs);
    }
    /* After anything but a whole reply, a late answer could still arrive on the
     * connection and be taken for the next command's: it is not kept. */
    if (got == 0)
        GiveBackConnection(&c);
    else
        realClose(fd);
    if (got == -2) {
        out->host = DID_TIME_OUT;
    } else if (got != 0) {
        out->host = DID_ERROR;
    } else if (reply.status == QM_WIRE_NO_ANSWER) {
        out->host = DID_TIME_OUT;
    } else if (reply.status < 0) {
        out->host = DID_NO_CONNECT;
    } else {
        out->status = reply.status & 0xFF;
        out->transferred = reply.transferred;
        out->resid = reply.resid;
        out->senseWritten = reply.sense_length;
        if (out->senseWritten) out->driver = DRIVER_SENSE;
    }
    if (g_debug)
        fprintf(stderr, "qm_sgpreload: %s %02X len %u -> status %02X host %02X xfer %u\n",
                g_devices[rq->device].path, rq->cdb[0], rq->length, out->status, out->host, out->transferred);
    return 0;
}

static int SgIoV3(int device, sg_io_hdr_t* h) {
    if (h->iovec_count != 0 || h->cmd_len < 1 || h->cmd_len > 16 || !h->cmdp) {
        errno = EINVAL;
        return -1;
    }
    struct request rq = {device, h->cmdp, h->cmd_len, 2, h->dxferp, h->dxfer_len, h->sbp, h->mx_sb_len,
                         h->timeout ? h->timeout : DEFAULT_TIMEOUT_MS};
    switch (h->dxfer_direction) {
    case SG_DXFER_TO_DEV: rq.direction = 0; break;
    case SG_DXFER_FROM_DEV:
    case SG_DXFER_TO_FROM_DEV: rq.direction = 1; break;
    default: rq.direction = 2; break;
    }
    if (rq.direction == 2 || !rq.data) rq.length = 0;
    if (!rq.sense) rq.senseLength = 0;
    if (rq.length > 0 && rq.direction == 2) rq.length = 0;
    struct outcome out;
    if (Forward(&rq, &out) != 0) return -1;
    h->status = (unsigned char)out.status;
    h->masked_status = (unsigned char)((out.status >> 1) & 0x7F);
    h->msg_status = 0;
    h->sb_len_wr = (unsigned char)out.senseWritten;
    h->host_status = (unsigned short)out.host;
    h->driver_status = (unsigned short)out.driver;
    h->resid = rq.direction == 2 ? 0 : out.resid;
    h->duration = 0;
    h->info = (out.status || out.host || out.driver) ? SG_INFO_CHECK : 0;
    return 0;
}

static int SgIoV4(int device, struct sg_io_v4* h) {
    if (h->protocol != BSG_PROTOCOL_SCSI || h->subprotocol != BSG_SUB_PROTOCOL_SCSI_CMD || h->request_len < 1 ||
        h->request_len > 16 || !h->request || h->din_iovec_count || h->dout_iovec_count ||
        (h->din_xfer_len && h->dout_xfer_len)) {
        errno = EINVAL;
        return -1;
    }
    struct request rq = {device, (const uint8_t*)(uintptr_t)h->request, h->request_len, 2, NULL, 0,
                         (uint8_t*)(uintptr_t)h->response, h->max_response_len,
                         h->timeout ? h->timeout : DEFAULT_TIMEOUT_MS};
    if (h->dout_xfer_len) {
        rq.direction = 0;
        rq.data = (uint8_t*)(uintptr_t)h->dout_xferp;
        rq.length = h->dout_xfer_len;
    } else if (h->din_xfer_len) {
        rq.direction = 1;
        rq.data = (uint8_t*)(uintptr_t)h->din_xferp;
        rq.length = h->din_xfer_len;
    }
    if (!rq.sense) rq.senseLength = 0;
    struct outcome out;
    if (Forward(&rq, &out) != 0) return -1;
    h->device_status = (uint32_t)out.status;
    h->transport_status = (uint32_t)out.host;
    h->driver_status = (uint32_t)out.driver;
    h->response_len = out.senseWritten;
    h->din_resid = rq.direction == 1 ? out.resid : 0;
    h->dout_resid = rq.direction == 0 ? out.resid : 0;
    h->duration = 0;
    h->info = (out.status || out.host || out.driver) ? SG_INFO_CHECK : 0;
    return 0;
}

/* A CD-ROM eject or load asked of the device is a START STOP UNIT, as the kernel
 * sends it. */
static int StartStop(int device, int load) {
    const uint8_t cdb[6] = {0x1B, 0, 0, 0, (uint8_t)(load ? 0x03 : 0x02), 0};
    uint8_t sense[32];
    struct request rq = {device, cdb, 6, 2, NULL, 0, sense, sizeof sense, DEFAULT_TIMEOUT_MS};
    struct outcome out;
    if (Forward(&rq, &out) != 0) return -1;
    if (out.status || out.host) {
        errno = EIO;
        return -1;
    }
    return 0;
}

static int DeviceIoctl(int device, unsigned long request, void* arg, ioctl_fn real, int fd) {
    switch (request) {
    case SG_IO: {
        if (!arg) {
            errno = EFAULT;
            return -1;
        }
        const int guard = *(const int*)arg;
        if (guard == 'S') return SgIoV3(device, arg);
        if (guard == 'Q') return SgIoV4(device, arg);
        errno = ENOSYS;
        return -1;
    }
    case SG_GET_VERSION_NUM: *(int*)arg = SG_VERSION; return 0;
    case SG_GET_TIMEOUT: return DEFAULT_TIMEOUT_MS / 10; /* in jiffies of 10 ms */
    case SG_SET_TIMEOUT:
    case SG_SET_RESERVED_SIZE: return 0;
    case SG_GET_RESERVED_SIZE: *(int*)arg = RESERVED_SIZE; return 0;
    case SG_EMULATED_HOST: *(int*)arg = 1; return 0; /* an ATAPI drive */
    case SG_GET_SCSI_ID: {
        struct sg_scsi_id* id = arg;
        memset(id, 0, sizeof *id);
        id->scsi_id = device;
        id->scsi_type = TYPE_ROM;
        id->h_cmd_per_lun = 1;
        id->d_queue_depth = 1;
        return 0;
    }
    case SCSI_IOCTL_GET_IDLUN: {
        int* idlun = arg;
        idlun[0] = device & 0xFF; /* target; lun, channel and host 0 */
        idlun[1] = 0;
        return 0;
    }
    case SCSI_IOCTL_GET_BUS_NUMBER: *(int*)arg = 0; return 0;
    case BLKSECTGET: *(unsigned short*)arg = RESERVED_SIZE / 512; return 0;
    case CDROM_GET_CAPABILITY:
        return CDC_CLOSE_TRAY | CDC_OPEN_TRAY | CDC_LOCK | CDC_SELECT_SPEED | CDC_MEDIA_CHANGED | CDC_CD_R |
               CDC_CD_RW | CDC_DVD | CDC_DVD_R | CDC_GENERIC_PACKET | CDC_DRIVE_STATUS;
    case CDROM_DRIVE_STATUS: return CDS_NO_INFO;
    case CDROM_MEDIA_CHANGED: return 0;
    case CDROM_LOCKDOOR:
    case CDROM_SET_OPTIONS:
    case CDROM_CLEAR_OPTIONS:
    case CDROM_SELECT_SPEED: return 0;
    case CDROMEJECT: return StartStop(device, 0);
    case CDROMCLOSETRAY: return StartStop(device, 1);
    default: return real(fd, request, arg); /* the file's own answer, harmless */
    }
}

static int Ioctl(const char* realName, int fd, unsigned long request, void* arg) {
    static ioctl_fn realIoctl, realTime64;
    ioctl_fn* slot = realName[0] == 'i' ? &realIoctl : &realTime64;
    if (!*slot) {
        void* f = dlsym(RTLD_NEXT, realName);
        *slot = (ioctl_fn)(f ? f : Next("ioctl"));
    }
    const int device = DeviceOf(fd);
    if (device < 0) return (*slot)(fd, request, arg);
    return DeviceIoctl(device, request, arg, *slot, fd);
}

EXPORT int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return Ioctl("ioctl", fd, request, arg);
}

/* What 32-bit glibc with 64-bit time calls (Wine's 32-bit ntdll among others). */
EXPORT int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return Ioctl("__ioctl_time64", fd, request, arg);
}

/* Only these opens carry a mode argument, as the C library reads it. */
static mode_t ModeOf(int flags, va_list ap) {
    return ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) ? (mode_t)va_arg(ap, int) : 0;
}

#define OPEN_WRAPPER(name)                                                        \
    EXPORT int name(const char* path, int flags, ...) {                           \
        va_list ap;                                                               \
        va_start(ap, flags);                                                      \
        const mode_t mode = ModeOf(flags, ap);                                    \
        va_end(ap);                                                               \
        int lockFd = -1;                                                          \
        const int claimed = ClaimedDevice(path, flags);                           \
        if (claimed >= 0) {                                                       \
            if ((lockFd = Claim(claimed)) < 0) return -1;                         \
            flags &= ~O_EXCL;                                                     \
        }                                                                         \
        const int device = MissingDevice(path);                                   \
        if (device >= 0) return Hold(OpenAnonymous(device, flags), lockFd);       \
        static open_fn real;                                                      \
        if (!real) real = (open_fn)Next(#name);                                   \
        return Hold(real(path, flags, mode), lockFd);                             \
    }

#define OPENAT_WRAPPER(name)                                                      \
    EXPORT int name(int dirfd, const char* path, int flags, ...) {                \
        va_list ap;                                                               \
        va_start(ap, flags);                                                      \
        const mode_t mode = ModeOf(flags, ap);                                    \
        va_end(ap);                                                               \
        int lockFd = -1;                                                          \
        const int claimed = ClaimedDeviceAt(dirfd, path, flags);                  \
        if (claimed >= 0) {                                                       \
            if ((lockFd = Claim(claimed)) < 0) return -1;                         \
            flags &= ~O_EXCL;                                                     \
        }                                                                         \
        const int device = MissingDeviceAt(dirfd, path);                          \
        if (device >= 0) return Hold(OpenAnonymous(device, flags), lockFd);       \
        static openat_fn real;                                                    \
        if (!real) real = (openat_fn)Next(#name);                                 \
        return Hold(real(dirfd, path, flags, mode), lockFd);                      \
    }

OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)
OPENAT_WRAPPER(openat)
OPENAT_WRAPPER(openat64)

/* The fortified forms that _FORTIFY_SOURCE builds call. */
EXPORT int __open_2(const char* path, int flags) { return open(path, flags); }
EXPORT int __open64_2(const char* path, int flags) { return open64(path, flags); }
EXPORT int __openat_2(int dirfd, const char* path, int flags) { return openat(dirfd, path, flags); }
EXPORT int __openat64_2(int dirfd, const char* path, int flags) { return openat64(dirfd, path, flags); }

EXPORT int close(int fd) {
    static close_fn real;
    if (!real) real = (close_fn)Next("close");
    int lockFd = -1;
    pthread_mutex_lock(&g_anonymousMutex);
    for (int i = 0; i < g_anonymousCount; ++i) {
        if (g_anonymous[i].fd == fd) {
            g_anonymous[i] = g_anonymous[--g_anonymousCount];
            break;
        }
    }
    for (int i = 0; i < g_claimCount; ++i) {
        if (g_claims[i].fd == fd) {
            lockFd = g_claims[i].lockFd;
            g_claims[i] = g_claims[--g_claimCount];
            break;
        }
    }
    pthread_mutex_unlock(&g_anonymousMutex);
    const int result = real(fd);
    if (lockFd >= 0) {
        const int error = errno;
        real(lockFd); /* the claim ends with the descriptor that held it */
        errno = error;
    }
    return result;
}
