#include "crash/crash_report.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <elf.h>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <sys/prctl.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

// Buffered output to a descriptor with nothing but write(2): no allocation, no locale, no
// stdio, so it is usable inside a signal handler.
class SafeWriter {
public:
    explicit SafeWriter(int fd) : m_fd(fd) {}
    ~SafeWriter() { flush(); }
    SafeWriter(const SafeWriter &) = delete;
    SafeWriter &operator=(const SafeWriter &) = delete;

    SafeWriter &text(const char *s)
    {
        while (s && *s)
            put(*s++);
        return *this;
    }
    SafeWriter &dec(std::uint64_t value, int width = 0)
    {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        for (int pad = n; pad < width; ++pad)
            put('0');
        while (n > 0)
            put(digits[--n]);
        return *this;
    }
    SafeWriter &sdec(std::int64_t value)
    {
        if (value < 0) {
            put('-');
            return dec(0 - static_cast<std::uint64_t>(value));
        }
        return dec(static_cast<std::uint64_t>(value));
    }
    SafeWriter &hex(std::uint64_t value)
    {
        static const char kDigits[] = "0123456789abcdef";
        text("0x");
        for (int shift = 60; shift >= 0; shift -= 4)
            put(kDigits[(value >> shift) & 0xF]);
        return *this;
    }
    void flush()
    {
        std::size_t done = 0;
        while (done < m_used) {
            const ssize_t n = ::write(m_fd, m_buffer + done, m_used - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        m_used = 0;
    }

private:
    void put(char c)
    {
        if (m_used == sizeof m_buffer)
            flush();
        m_buffer[m_used++] = c;
    }

    int m_fd;
    char m_buffer[512];
    std::size_t m_used = 0;
};

// Civil date from days since 1970-01-01 (proleptic Gregorian), without the C library's
// time zone machinery, which is not signal-safe.
void write_utc_time(SafeWriter &out, std::int64_t seconds)
{
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    out.sdec(year).text("-").dec(static_cast<std::uint64_t>(month), 2).text("-");
    out.dec(static_cast<std::uint64_t>(day), 2).text(" ");
    out.dec(static_cast<std::uint64_t>(rest / 3600), 2).text(":");
    out.dec(static_cast<std::uint64_t>(rest / 60 % 60), 2).text(":");
    out.dec(static_cast<std::uint64_t>(rest % 60), 2).text(" UTC (");
    out.sdec(seconds).text(")\n");
}

void write_cause(SafeWriter &out, int sig, const siginfo_t *info)
{
    out.text("signal: ").sdec(sig).text(" ").text(crash_signal_name(sig)).text("\n");
    if (!info)
        return;
    out.text("code: ").sdec(info->si_code).text(" ").text(crash_code_name(sig, info->si_code));
    out.text("\n");
    if (info->si_code <= 0) {
        // Sent by a process (kill, tgkill, sigqueue, abort): the union holds the sender.
        out.text("sender pid: ").sdec(info->si_pid).text(" uid: ").sdec(info->si_uid).text("\n");
    } else {
        out.text("fault address: ").hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
        out.text("\n");
    }
}

void write_process(SafeWriter &out, const CrashReportFacts &facts)
{
    char name[17] = {};
    ::prctl(PR_GET_NAME, name, 0, 0, 0);
    out.text("pid: ").sdec(::getpid()).text(" tid: ").sdec(::gettid());
    out.text(" thread: ").text(name).text("\n");
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    out.text("time: ");
    write_utc_time(out, static_cast<std::int64_t>(now.tv_sec));
    out.text("executable: ").text(facts.executable).text("\n");
    out.text("build-id: ").text(facts.buildId[0] ? facts.buildId : "none").text("\n");
}

void write_registers(SafeWriter &out, const void *context)
{
#if defined(__x86_64__)
    if (!context)
        return;
    struct Reg {
        const char *name;
        int index;
    };
    static const Reg kRegs[] = {
        {"rip", REG_RIP}, {"rsp", REG_RSP}, {"rbp", REG_RBP}, {"rax", REG_RAX},
        {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI},
        {"rdi", REG_RDI}, {"r8", REG_R8},   {"r9", REG_R9},   {"r10", REG_R10},
        {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14},
        {"r15", REG_R15}, {"eflags", REG_EFL}, {"err", REG_ERR}, {"trapno", REG_TRAPNO},
        {"cr2", REG_CR2},
    };
    const auto *uc = static_cast<const ucontext_t *>(context);
    out.text("registers:\n");
    int column = 0;
    for (const Reg &reg : kRegs) {
        out.text(" ").text(reg.name).text("=");
        out.hex(static_cast<std::uint64_t>(uc->uc_mcontext.gregs[reg.index]));
        if (++column % 3 == 0)
            out.text("\n");
    }
    if (column % 3 != 0)
        out.text("\n");
#else
    (void)out;
    (void)context;
#endif
}

void copy_file(int fd, const char *path)
{
    const int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    char chunk[1024];
    for (;;) {
        const ssize_t n = ::read(in, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd, chunk + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break;
            done += w;
        }
        if (done < n)
            break;
    }
    ::close(in);
}

struct BuildIdSearch {
    char *out;
    std::size_t capacity;
};

// Reads the GNU build-id note of the first object, which is the program itself.
int find_build_id(dl_phdr_info *info, std::size_t, void *data)
{
    auto *search = static_cast<BuildIdSearch *>(data);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_NOTE)
            continue;
        const std::size_t align = ph.p_align == 8 ? 8 : 4;
        auto aligned = [align](std::size_t n) { return (n + align - 1) & ~(align - 1); };
        const char *p = reinterpret_cast<const char *>(info->dlpi_addr + ph.p_vaddr);
        const char *end = p + ph.p_memsz;
        while (p + sizeof(ElfW(Nhdr)) <= end) {
            const auto *note = reinterpret_cast<const ElfW(Nhdr) *>(p);
            const char *name = p + sizeof(ElfW(Nhdr));
            const char *desc = name + aligned(note->n_namesz);
            if (desc + note->n_descsz > end)
                break;
            if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4 &&
                std::memcmp(name, "GNU", 4) == 0 && note->n_descsz * 2 < search->capacity) {
                static const char kDigits[] = "0123456789abcdef";
                for (std::size_t b = 0; b < note->n_descsz; ++b) {
                    const auto byte = static_cast<unsigned char>(desc[b]);
                    search->out[2 * b] = kDigits[byte >> 4];
                    search->out[2 * b + 1] = kDigits[byte & 0xF];
                }
                search->out[2 * note->n_descsz] = '\0';
                return 1;
            }
            p = desc + aligned(note->n_descsz);
        }
    }
    return 1;
}

} // namespace

void gather_crash_facts(CrashReportFacts &facts)
{
    const ssize_t n = ::readlink("/proc/self/exe", facts.executable, sizeof facts.executable - 1);
    facts.executable[n > 0 ? n : 0] = '\0';
    facts.buildId[0] = '\0';
    BuildIdSearch search{facts.buildId, sizeof facts.buildId};
    ::dl_iterate_phdr(find_build_id, &search);
}

void write_crash_report(int fd, int signalNumber, const siginfo_t *info, const void *context,
                        const CrashReportFacts &facts)
{
    SafeWriter out(fd);
    out.text("Tessaract crash report\n");
    write_cause(out, signalNumber, info);
    write_process(out, facts);
    write_registers(out, context);
    out.text("backtrace:\n");
    out.flush();
    void *frames[64];
    const int depth = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, depth, fd);
    out.text("maps:\n");
    out.flush();
    copy_file(fd, "/proc/self/maps");
    out.text("end of report\n");
}

const char *crash_signal_name(int signalNumber)
{
    switch (signalNumber) {
    case SIGSEGV: return "SIGSEGV";
    case SIGABRT: return "SIGABRT";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGBUS: return "SIGBUS";
    case SIGTRAP: return "SIGTRAP";
    case SIGSYS: return "SIGSYS";
    default: return "?";
    }
}

const char *crash_code_name(int signalNumber, int code)
{
    switch (code) {
    case SI_USER: return "SI_USER";
    case SI_KERNEL: return "SI_KERNEL";
    case SI_QUEUE: return "SI_QUEUE";
    case SI_TKILL: return "SI_TKILL";
    default: break;
    }
    static const char *const kSegv[] = {"SEGV_MAPERR", "SEGV_ACCERR", "SEGV_BNDERR", "SEGV_PKUERR"};
    static const char *const kBus[] = {"BUS_ADRALN", "BUS_ADRERR", "BUS_OBJERR", "BUS_MCEERR_AR",
                                       "BUS_MCEERR_AO"};
    static const char *const kFpe[] = {"FPE_INTDIV", "FPE_INTOVF", "FPE_FLTDIV", "FPE_FLTOVF",
                                       "FPE_FLTUND", "FPE_FLTRES", "FPE_FLTINV", "FPE_FLTSUB"};
    static const char *const kIll[] = {"ILL_ILLOPC", "ILL_ILLOPN", "ILL_ILLADR", "ILL_ILLTRP",
                                       "ILL_PRVOPC", "ILL_PRVREG", "ILL_COPROC", "ILL_BADSTK"};
    auto pick = [code](const char *const *names, int count) {
        return code >= 1 && code <= count ? names[code - 1] : "?";
    };
    switch (signalNumber) {
    case SIGSEGV: return pick(kSegv, 4);
    case SIGBUS: return pick(kBus, 5);
    case SIGFPE: return pick(kFpe, 8);
    case SIGILL: return pick(kIll, 8);
    default: return "?";
    }
}
