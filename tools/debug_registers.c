/* Tells whether this machine fires hardware breakpoints: a traced child gets
   an execute breakpoint (Dr0, Dr7) on a function and calls it. Some machines
   (virtual ones whose hypervisor does not pass the debug registers through)
   accept the registers and never stop there. Prints one line; exits 0 when
   they fire, 1 when they never do, 2 when it cannot tell. */
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/ptrace.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

__attribute__((noinline)) static void Target(void) { __asm__ volatile("nop"); }

static int SetDebugRegister(pid_t child, int index, unsigned long value) {
    return ptrace(PTRACE_POKEUSER, child, offsetof(struct user, u_debugreg) + index * sizeof(long), (void*)value) == 0;
}

int main(void) {
    pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        ptrace(PTRACE_TRACEME, 0, 0, 0);
        raise(SIGSTOP);
        Target();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!SetDebugRegister(child, 0, (unsigned long)Target) || !SetDebugRegister(child, 7, 1)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        puts("debug registers: cannot tell (the kernel refused them)");
        return 2;
    }
    ptrace(PTRACE_CONT, child, 0, 0);
    waitpid(child, &status, 0);
    int fired = WIFSTOPPED(status) && WSTOPSIG(status) == SIGTRAP;
    if (WIFSTOPPED(status)) {
        SetDebugRegister(child, 7, 0);
        ptrace(PTRACE_CONT, child, 0, 0);
        waitpid(child, &status, 0);
    }
    puts(fired ? "debug registers: hardware breakpoints fire on this machine"
               : "debug registers: hardware breakpoints never fire on this machine (accepted, never hit)");
    return fired ? 0 : 1;
}
