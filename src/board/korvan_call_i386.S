// uint32_t korvan_call_words(void *entry, const uint32_t *words,
//                            uint32_t count, uint32_t *popped)   (cdecl)
//
// Calls entry with the count words as its arguments, the first word lowest
// on the stack, and returns what it left in eax. The stack is 16-byte
// aligned at the call, as a callee built for SSE may rely on. The stack
// pointer is kept in ebx across the call and restored from it, so the
// callee may pop its arguments (stdcall) or leave them (cdecl); *popped
// says how many bytes it popped, which tells the two apart.
#if defined(_WIN32)
#define SYMBOL(name) _##name
#else
#define SYMBOL(name) name
#endif

        .text
        .globl SYMBOL(korvan_call_words)
SYMBOL(korvan_call_words):
        pushl   %ebx
        pushl   %esi
        movl    %esp, %ebx              // entry 12(%ebx), words 16, count 20, popped 24
        movl    20(%ebx), %ecx
        leal    0(,%ecx,4), %eax        // the arguments' bytes
        movl    %esp, %esi
        subl    %eax, %esi
        andl    $-16, %esi              // esi: the stack pointer at the call
        leal    (%esi,%eax), %esp
        movl    16(%ebx), %edx
1:      testl   %ecx, %ecx              // push the words, the last one first
        jz      2f
        decl    %ecx
        pushl   (%edx,%ecx,4)
        jmp     1b
2:      call    *12(%ebx)
        movl    %esp, %ecx              // popped = esp - esi
        subl    %esi, %ecx
        movl    24(%ebx), %edx
        movl    %ecx, (%edx)
        movl    %ebx, %esp
        popl    %esi
        popl    %ebx
        ret

#if defined(__ELF__)
        .section .note.GNU-stack,"",@progbits
#endif
