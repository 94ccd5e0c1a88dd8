/* assert(EXPR): when EXPR is false, a message naming it, its file and line
   on the console, then abort(); nothing at all with NDEBUG. Beyond the
   core runtime. Like the C library's, this header may be included
   again with NDEBUG changed. */
#undef assert
#ifdef NDEBUG
#define assert(expr) ((void)0)
#else
#ifdef __cplusplus
extern "C"
#endif
    void
    kivos_assert_fail(const char *expr, const char *file, int line) __attribute__((noreturn));
#define assert(expr) ((expr) ? (void)0 : kivos_assert_fail(#expr, __FILE__, __LINE__))
#endif
