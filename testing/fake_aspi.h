// An in-process ASPI manager: the two entry points, handed out through a fake
// library seam, serving the request block to a drive.
//
// It reads the block by byte offset, as a manager built against the published
// layout does (pointer fields widen on a 64-bit build), so a block laid out
// differently from that is read wrongly here.
#pragma once
#include "os/library.h"
#include "os/time.h"
#include "transport/aspi.h"
#include "transport/transport.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace srb_offset {
constexpr size_t kPtr = sizeof(void*);
constexpr size_t Cmd = 0, Status = 1, HaId = 2, Flags = 3, Target = 8, Lun = 9, BufLen = 12,
                 BufPointer = 16, SenseLen = 16 + kPtr, CdbLen = 17 + kPtr, HaStat = 18 + kPtr,
                 TargStat = 19 + kPtr, PostProc = 20 + kPtr, Cdb = 40 + 2 * kPtr,
                 Sense = 56 + 2 * kPtr, Size = 80 + 2 * kPtr;
// The published 32-bit layout comes out of the same formulas.
static_assert(kPtr != 4 || (BufPointer == 16 && SenseLen == 20 && CdbLen == 21 &&
                            PostProc == 24 && Cdb == 48 && Sense == 64 && Size == 88),
              "the 32-bit block");
}  // namespace srb_offset

// A drive answering one command: returns the SCSI status, fills `sense` on
// CHECK CONDITION. Matches the emulated drive's Execute.
using DriveFn = std::function<int(const uint8_t* cdb, int cdbLength, int direction, uint8_t* data,
                                  uint32_t length, uint8_t* sense, int senseLength)>;

class FakeAspi : public LibraryPort {
public:
    enum class Completion {
        Immediate,  // done before SendASPI32Command returns; returns the status
        Later,      // returns SS_PENDING; another thread completes it and signals
        Refused,    // returns `refusal` at once, never signals
    };

    DriveFn drive;
    Completion completion = Completion::Immediate;
    uint32_t laterMs = 250;  // how long the later completion takes (virtual time)
    uint8_t refusal = SS_NO_DEVICE;
    bool hasLibrary = true, hasSupportInfo = true, hasSendCommand = true;
    uint32_t supportInfo = (SS_COMP << 8) | 1;
    std::string adapterName = "FAKE HOST";
    // What it reports of a completed transfer besides the status: SRB_HaStat, and a
    // count written back into SRB_BufLen when not negative.
    uint8_t haStat = 0;
    int64_t countInBufLen = -1;     // written to SRB_BufLen when not negative
    bool reportsResidual = false;   // the adapter inquiry says so
    // A request to this target is accepted (SS_PENDING) and never completed.
    int hangTarget = -1;

    std::vector<std::string> loaded;  // names asked of the library seam
    int supportInfoCalls = 0;
    int sendCalls = 0;
    std::vector<uint8_t> sent;  // the last execute block, as it arrived
    std::vector<OsHandle> completions;

    FakeAspi() { s_current = this; }
    ~FakeAspi() override { s_current = nullptr; }

    // Lets every later completion end; call while the clock they run on is in force.
    void Drain() {
        for (OsHandle t : completions) {
            OsTime().WaitThread(t, OS_WAIT_FOREVER);
            OsTime().CloseThread(t);
        }
        completions.clear();
    }

    OsHandle LoadSystemLibrary(const char* name) override {
        loaded.push_back(name);
        return hasLibrary ? reinterpret_cast<OsHandle>(this) : nullptr;
    }
    void* GetProcAddress(OsHandle module, const char* name) override {
        if (module != reinterpret_cast<OsHandle>(this)) return nullptr;
        if (hasSupportInfo && std::strcmp(name, "GetASPI32SupportInfo") == 0)
            return reinterpret_cast<void*>(&SupportInfo);
        if (hasSendCommand && std::strcmp(name, "SendASPI32Command") == 0)
            return reinterpret_cast<void*>(&SendCommand);
        return nullptr;
    }

    static uint8_t Byte(const std::vector<uint8_t>& b, size_t at) { return b.at(at); }
    static uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
        uint32_t v;
        std::memcpy(&v, b.data() + at, 4);
        return v;
    }
    static void* Ptr(const std::vector<uint8_t>& b, size_t at) {
        void* v;
        std::memcpy(&v, b.data() + at, sizeof v);
        return v;
    }

private:
    static inline FakeAspi* s_current = nullptr;

    static uint32_t SupportInfo() {
        ++s_current->supportInfoCalls;
        return s_current->supportInfo;
    }

    static uint32_t SendCommand(void* srb) {
        FakeAspi& self = *s_current;
        ++self.sendCalls;
        auto* p = static_cast<uint8_t*>(srb);
        if (p[srb_offset::Cmd] == SC_HA_INQUIRY) {
            // Offsets of SRB_HAInquiry: no pointers, the same on every build.
            p[8] = 1;                    // HA_Count
            std::memset(p + 26, 0, 16);  // HA_Identifier
            std::memcpy(p + 26, self.adapterName.data(), std::min<size_t>(16, self.adapterName.size()));
            p[42 + HA_UNIQUE_FEATURES] = self.reportsResidual ? HA_REPORTS_RESIDUAL : 0;  // HA_Unique
            p[srb_offset::Status] = SS_COMP;
            return SS_COMP;
        }
        self.sent.assign(p, p + srb_offset::Size);
        if (p[srb_offset::Target] == self.hangTarget) {
            p[srb_offset::Status] = SS_PENDING;
            return SS_PENDING;
        }
        switch (self.completion) {
        case Completion::Refused:
            p[srb_offset::Status] = self.refusal;
            return self.refusal;
        case Completion::Immediate:
            self.Complete(p);
            return p[srb_offset::Status];
        case Completion::Later:
            p[srb_offset::Status] = SS_PENDING;
            s_block = p;
            self.completions.push_back(OsTime().StartThread(&CompleteLater, &self));
            return SS_PENDING;
        }
        return SS_ERR;
    }

    static inline uint8_t* s_block = nullptr;
    static void CompleteLater(void* arg) {
        auto& self = *static_cast<FakeAspi*>(arg);
        OsTime().Sleep(self.laterMs);
        self.Complete(s_block);
        void* event;
        std::memcpy(&event, s_block + srb_offset::PostProc, sizeof event);
        OsTime().SetEvent(event);
    }

    // Runs the block's command on the drive and writes back what ASPI writes.
    void Complete(uint8_t* p) {
        const uint8_t flags = p[srb_offset::Flags];
        const int direction = (flags & SRB_DIR_IN) ? DIR_IN : (flags & SRB_DIR_OUT) ? DIR_OUT : DIR_NONE;
        uint8_t* data;
        std::memcpy(&data, p + srb_offset::BufPointer, sizeof data);
        uint32_t length;
        std::memcpy(&length, p + srb_offset::BufLen, 4);
        uint8_t sense[32] = {};
        const int senseLength = std::min<int>(p[srb_offset::SenseLen], 24);
        const int scsi = drive(p + srb_offset::Cdb, p[srb_offset::CdbLen], direction, data, length,
                               sense, senseLength);
        p[srb_offset::HaStat] = haStat;
        if (countInBufLen >= 0 || (flags & SRB_ENABLE_RESIDUAL_COUNT)) {
            // Asked for a residual, and told nothing else: the whole transfer moved.
            const uint32_t count = countInBufLen >= 0 ? static_cast<uint32_t>(countInBufLen) : 0;
            std::memcpy(p + srb_offset::BufLen, &count, 4);
        }
        p[srb_offset::TargStat] = static_cast<uint8_t>(scsi);
        if (scsi == 0) {
            p[srb_offset::Status] = SS_COMP;
        } else {
            // The sense area is written only when the target returned CHECK CONDITION.
            if (scsi == 2) std::memcpy(p + srb_offset::Sense, sense, senseLength);
            p[srb_offset::Status] = SS_ERR;
        }
    }
};
