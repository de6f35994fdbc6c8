/* What the preload library and the drive server say to each other over the
 * server's Unix socket: a request and its reply in turn, as many as the client
 * sends before it closes the connection (the preload library keeps one per
 * thread), in the byte order of the machine (both ends run on it). C, for the
 * preload library. */
#ifndef QM_SIM_WIRE_H
#define QM_SIM_WIRE_H
#include <stdint.h>

#define QM_WIRE_MAGIC 0x51534731u /* "1GSQ" */
#define QM_WIRE_COMMAND 1u        /* a SCSI command for one drive */
#define QM_WIRE_CONTROL 2u        /* a control text: status, transcript, reset ... */
#define QM_WIRE_MAX_DATA (16u << 20)

/* Reply status besides the SCSI status values. */
#define QM_WIRE_NO_ANSWER (-1) /* the drive did not complete the command */
#define QM_WIRE_NO_DRIVE (-2)  /* no drive at that letter */
#define QM_WIRE_BAD_REQUEST (-3)

struct qm_wire_request {
    uint32_t magic;
    uint32_t kind;
    uint8_t drive;     /* drive letter; 0 = the scenario's first drive */
    uint8_t cdb_len;   /* 1..16 */
    uint8_t direction; /* 0 out, 1 in, 2 none */
    uint8_t reserved;
    uint8_t cdb[16];
    uint32_t data_length;  /* out: bytes that follow; in: bytes the host takes; control: text bytes */
    uint32_t sense_length; /* room for sense bytes */
    uint32_t timeout_ms;
};

struct qm_wire_reply {
    uint32_t magic;
    int32_t status;        /* SCSI status, or one of QM_WIRE_* above */
    uint32_t data_length;  /* bytes that follow: data in, or the control answer */
    uint32_t sense_length; /* sense bytes that follow the data */
    uint32_t transferred;  /* data bytes moved, either direction */
    int32_t resid;         /* what the adapter reports as not moved, however wrong */
};

/* A 32-bit client (the preload library in a 32-bit Wine process) talks to the
 * 64-bit server: the records hold only fixed-width fields, laid out alike. */
#ifdef __cplusplus
static_assert(sizeof(qm_wire_request) == 40 && sizeof(qm_wire_reply) == 24, "wire records");
#else
_Static_assert(sizeof(struct qm_wire_request) == 40 && sizeof(struct qm_wire_reply) == 24, "wire records");
#endif

#endif
