// Process entry. The kernel leaves the argument count at the stack pointer
// and the argument pointers right after it.
extern "C" int main(int argc, char **argv);

extern "C" __attribute__((naked, noreturn)) void _start() {
  asm volatile("movl (%esp), %eax\n\t"  // argc
               "leal 4(%esp), %ecx\n\t" // argv
               "andl $-16, %esp\n\t"
               "subl $8, %esp\n\t" // 16-byte aligned at the call
               "pushl %ecx\n\t"
               "pushl %eax\n\t"
               "call main\n\t"
               "movl %eax, (%esp)\n\t"
               "call _exit\n"
               "1:\n\t"
               "jmp 1b");
}
