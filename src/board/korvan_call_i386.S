// uint32_t korvan_call_words(void *entry, const uint32_t *words,
//                            uint32_t count, uint32_t *popped)   (cdecl)
//
// Calls entry with the count words as its arguments, the first word lowest
// on the stack, and returns what it left in eax. The stack pointer is kept
// in ebx across the call and restored from it, so the callee may pop its
// arguments (stdcall) or leave them (cdecl); *popped says how many bytes it
// popped, which tells the two apart.
#if defined(_WIN32)
#define SYMBOL(name) _##name
#else
#define SYMBOL(name) name
#endif

        .text
        .globl SYMBOL(korvan_call_words)
SYMBOL(korvan_call_words):
        pushl   %ebx
        movl    %esp, %ebx              // entry 8(%ebx), words 12, count 16, popped 20
        movl    16(%ebx), %ecx
        movl    12(%ebx), %edx
1:      testl   %ecx, %ecx              // push the words, the last one first
        jz      2f
        decl    %ecx
        pushl   (%edx,%ecx,4)
        jmp     1b
2:      call    *8(%ebx)
        movl    %esp, %ecx              // popped = esp - (ebx - 4 * count)
        subl    %ebx, %ecx
        movl    16(%ebx), %edx
        leal    (%ecx,%edx,4), %ecx
        movl    20(%ebx), %edx
        movl    %ecx, (%edx)
        movl    %ebx, %esp
        popl    %ebx
        ret

#if defined(__ELF__)
        .section .note.GNU-stack,"",@progbits
#endif
