/* A tiny guest for the machine's own tests: a raw trap, a few results of each
 * kind, and one function per way of misbehaving. As a program it echoes its
 * arguments, or does what its first argument names. */
typedef unsigned int u32;

int trap(u32 number, u32 ebx, u32 ecx, u32 edx, u32 esi, u32 edi, u32 ebp);

int data_word = 0x1234567;
unsigned char bss_block[3 * 4096];

u32 fpu_control(void) {
    unsigned short word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

u32 eflags(void) {
    u32 flags;
    __asm__ volatile("pushf\n\tpop %0" : "=r"(flags));
    return flags;
}

long double third(void) {
    volatile long double one = 1;
    return one / 3;
}

unsigned long long multiply64(unsigned long long a, u32 b) {
    return a * b;
}

u32 count_down(u32 n) {
    while (n != 0) {
        __asm__ volatile("");
        --n;
    }
    return n;
}

/* Nonzero when any byte of the bss is. */
u32 bss_bits(void) {
    u32 bits = 0;
    for (u32 i = 0; i < sizeof bss_block; ++i) bits |= bss_block[i];
    return bits;
}

void set_bss(u32 at, u32 value) {
    bss_block[at] = (unsigned char)value;
}

u32 read_at(u32 address) {
    return *(volatile u32 *)address;
}

void write_at(u32 address, u32 value) {
    *(volatile u32 *)address = value;
}

int divide(int a, int b) {
    return a / b;
}

void halt(void) {
    __asm__ volatile("hlt");
}

void bad_instruction(void) {
    __asm__ volatile("ud2");
}

void interrupt_0x21(void) {
    __asm__ volatile("int $0x21");
}

void jump_to(u32 address) {
    ((void (*)(void))address)();
}

void spin(void) {
    for (;;) __asm__ volatile("");
}

static u32 length(const char *s) {
    u32 n = 0;
    while (s[n] != 0) ++n;
    return n;
}

static int equal(const char *a, const char *b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a == *b;
}

static u32 number(const char *s) {
    u32 value = 0;
    while (*s >= '0' && *s <= '9') value = value * 10 + (u32)(*s++ - '0');
    return value;
}

static void say(const char *s) {
    trap(1, 1, (u32)s, length(s), 0, 0, 0);
    trap(1, 1, (u32) "\n", 1, 0, 0, 0);
}

/* Copies descriptor `fd` to the console. */
static int copy_out(int fd) {
    char buffer[64];
    int n;
    while ((n = trap(3, (u32)fd, (u32)buffer, sizeof buffer, 0, 0, 0)) > 0)
        trap(1, 1, (u32)buffer, (u32)n, 0, 0, 0);
    return n;
}

int probe_main(int argc, char **argv) {
    const char *what = argc > 1 ? argv[1] : "";
    if (equal(what, "exit") && argc > 2) return (int)number(argv[2]);
    if (equal(what, "fault")) return (int)read_at(16);
    if (equal(what, "spin")) spin();
    if (equal(what, "call") && argc > 2) jump_to(number(argv[2]));
    if (equal(what, "jit")) {
        /* Code written at run time, which unicorn cannot translate: ljmp *%eax. */
        unsigned char *code = (unsigned char *)trap(98, 0, 4096, 7, 0x22, (u32)-1, 0);
        code[0] = 0xff;
        code[1] = 0xe8;
        jump_to((u32)code);
    }
    if (equal(what, "sleep")) return trap(22, 3000000, 0, 0, 0, 0, 0);
    if (equal(what, "cat")) return copy_out(0);
    if (equal(what, "numbers") && argc > 2) {
        /* As many distinct call numbers as asked, none of them a kivos call. */
        for (u32 n = 0; n < number(argv[2]); ++n) trap(0x10000 + n, 0, 0, 0, 0, 0, 0);
        return 0;
    }
    if (equal(what, "show") && argc > 2) {
        int fd = trap(4, (u32)argv[2], 0, 0, 0, 0, 0);
        return fd < 0 ? -fd : copy_out(fd);
    }
    for (int i = 0; i < argc; ++i) say(argv[i]);
    return 0;
}
