/* Exits 0 when this x86-64 Linux machine runs 32-bit x86 code for its processes, 1 when it does
 * not. Some machines refuse it outright (no 32-bit user code segment, no i386 programs): the only
 * sure test is to switch into 32-bit mode and come back. The code is written as bytes into a page
 * below 2 GiB: a far return into the 32-bit code segment, a far return back, then exit(0). */
#define _GNU_SOURCE
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

static void refused(int signal) {
    (void)signal;
    _exit(1);
}

static void putAddress(unsigned char* at, unsigned long address) {
    for (int i = 0; i < 4; ++i)
        at[i] = (unsigned char)(address >> (8 * i));
}

int main(void) {
    signal(SIGSEGV, refused);
    signal(SIGBUS, refused);
    signal(SIGILL, refused);
    unsigned char* page = mmap(NULL, 4096, PROT_READ | PROT_WRITE | PROT_EXEC,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (page == MAP_FAILED)
        return 1;
    unsigned long base = (unsigned long)page;
    /* 64-bit: push 0x23 (32-bit user code); push the 32-bit part; retfq */
    static const unsigned char into32[] = {0x6A, 0x23, 0x68, 0, 0, 0, 0, 0x48, 0xCB};
    /* 32-bit: push 0x33 (64-bit user code); push the way back; retf */
    static const unsigned char back64[] = {0x6A, 0x33, 0x68, 0, 0, 0, 0, 0xCB};
    /* 64-bit: mov eax, 60 (exit); xor edi, edi; syscall */
    static const unsigned char leave[] = {0xB8, 60, 0, 0, 0, 0x31, 0xFF, 0x0F, 0x05};
    memcpy(page, into32, sizeof into32);
    memcpy(page + 0x40, back64, sizeof back64);
    memcpy(page + 0x80, leave, sizeof leave);
    putAddress(page + 3, base + 0x40);
    putAddress(page + 0x43, base + 0x80);
    void (*run)(void) = (void (*)(void))page;
    run();
    return 1;
}
