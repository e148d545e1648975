/* A test-only fbclient.dll for Windows programs run under Wine on Linux.
 *
 * No Windows client library can be installed on the Linux test machines, so this Winelib
 * module takes its place: its exports are the InterBase API entry points, each a Windows-ABI
 * (ms_abi) function that calls the same function of Linux's libfbclient. Through it a Windows
 * program reaches a real Firebird, embedded (the engine then runs inside the Wine process) or
 * through a server.
 *
 * XSQLDA and XSQLVAR, status vectors (ISC_STATUS is pointer-sized), handles, ISC_QUAD and
 * the other structures have the same layout on Win64 and Linux x86-64, so most functions pass
 * their arguments through unchanged. Written out below are the ones that differ:
 *  - struct tm is 9 ints (36 bytes) on Windows but 56 bytes on Linux, so the date and time
 *    encoders and decoders convert it;
 *  - database names given as DOS paths ("Z:\...", also "localhost:Z:\...") become the Unix
 *    paths Wine maps them to, other names are re-encoded from the ANSI code page to UTF-8;
 *  - message text is converted from UTF-8 to the ANSI code page (an operating-system error
 *    or a file name in it is in the Unix locale's character set);
 *  - isc_que_events is refused: its callback would run on a thread of the Linux library,
 *    outside Wine;
 *  - isc_event_block takes a variable argument list, whose Windows convention differs.
 * "long" is 8 bytes here and 4 on Windows, so no signature below uses it. */

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

/* winegcc defines _WIN32, under which ibase.h would declare the library's functions
 * __stdcall, the Windows convention; they are Linux functions, so it must not see it. */
#pragma push_macro("_WIN32")
#pragma push_macro("WIN32")
#pragma push_macro("__WIN32__")
#undef _WIN32
#undef WIN32
#undef __WIN32__
#include <ibase.h>
#pragma pop_macro("__WIN32__")
#pragma pop_macro("WIN32")
#pragma pop_macro("_WIN32")

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

/* ---- Entry points passed through unchanged ---------------------------------------------- */

#define FB_NARGS(...) FB_NARGS_(__VA_ARGS__, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)
#define FB_NARGS_(_1, _2, _3, _4, _5, _6, _7, _8, _9, n, ...) n
#define FB_CAT(a, b) FB_CAT_(a, b)
#define FB_CAT_(a, b) a##b

#define FB_PARAMS_1(t1) t1 a1
#define FB_PARAMS_2(t1, t2) FB_PARAMS_1(t1), t2 a2
#define FB_PARAMS_3(t1, t2, t3) FB_PARAMS_2(t1, t2), t3 a3
#define FB_PARAMS_4(t1, t2, t3, t4) FB_PARAMS_3(t1, t2, t3), t4 a4
#define FB_PARAMS_5(t1, t2, t3, t4, t5) FB_PARAMS_4(t1, t2, t3, t4), t5 a5
#define FB_PARAMS_6(t1, t2, t3, t4, t5, t6) FB_PARAMS_5(t1, t2, t3, t4, t5), t6 a6
#define FB_PARAMS_7(t1, t2, t3, t4, t5, t6, t7) FB_PARAMS_6(t1, t2, t3, t4, t5, t6), t7 a7
#define FB_PARAMS_8(t1, t2, t3, t4, t5, t6, t7, t8) FB_PARAMS_7(t1, t2, t3, t4, t5, t6, t7), t8 a8
#define FB_PARAMS_9(t1, t2, t3, t4, t5, t6, t7, t8, t9)                                            \
    FB_PARAMS_8(t1, t2, t3, t4, t5, t6, t7, t8), t9 a9
#define FB_ARGS_1 a1
#define FB_ARGS_2 FB_ARGS_1, a2
#define FB_ARGS_3 FB_ARGS_2, a3
#define FB_ARGS_4 FB_ARGS_3, a4
#define FB_ARGS_5 FB_ARGS_4, a5
#define FB_ARGS_6 FB_ARGS_5, a6
#define FB_ARGS_7 FB_ARGS_6, a7
#define FB_ARGS_8 FB_ARGS_7, a8
#define FB_ARGS_9 FB_ARGS_8, a9

/* wrap_NAME: the export NAME of fbclient.def. The parameter types listed must be exactly
 * those ibase.h declares, so that no argument is narrowed or widened on the way through. */
#define FB_CHECK(ret, name, ...)                                                                   \
    _Static_assert(__builtin_types_compatible_p(__typeof__(name), ret(__VA_ARGS__)),               \
                   #name ": the listed signature differs from ibase.h");
#define FORWARD(ret, name, ...)                                                                    \
    FB_CHECK(ret, name, __VA_ARGS__)                                                               \
    ret WINAPI wrap_##name(FB_CAT(FB_PARAMS_, FB_NARGS(__VA_ARGS__))(__VA_ARGS__)) {               \
        return name(FB_CAT(FB_ARGS_, FB_NARGS(__VA_ARGS__)));                                      \
    }
#define FORWARD_VOID(name, ...)                                                                    \
    FB_CHECK(void, name, __VA_ARGS__)                                                              \
    void WINAPI wrap_##name(FB_CAT(FB_PARAMS_, FB_NARGS(__VA_ARGS__))(__VA_ARGS__)) {              \
        name(FB_CAT(FB_ARGS_, FB_NARGS(__VA_ARGS__)));                                             \
    }

#define S ISC_STATUS
#define DB isc_db_handle
#define TR isc_tr_handle
#define ST isc_stmt_handle
#define BL isc_blob_handle
#define SV isc_svc_handle
#define US unsigned short

FORWARD(int, BLOB_get, FB_BLOB_STREAM)
FORWARD(int, BLOB_put, ISC_SCHAR, FB_BLOB_STREAM)
FORWARD(ISC_LONG, isc_sqlcode, const S*)
FORWARD_VOID(isc_sql_interprete, short, ISC_SCHAR*, short)
FORWARD(ISC_LONG, isc_vax_integer, const ISC_SCHAR*, short)
FORWARD(ISC_INT64, isc_portable_integer, const ISC_UCHAR*, short)
FORWARD(ISC_LONG, isc_free, ISC_SCHAR*)

FORWARD(S, isc_drop_database, S*, DB*)
FORWARD(S, isc_detach_database, S*, DB*)
FORWARD(S, isc_database_info, S*, DB*, short, const ISC_SCHAR*, short, ISC_SCHAR*)
FORWARD(S, fb_cancel_operation, S*, DB*, ISC_USHORT)

FORWARD(S, isc_start_multiple, S*, TR*, short, void*)
FORWARD(S, isc_commit_transaction, S*, TR*)
FORWARD(S, isc_commit_retaining, S*, TR*)
FORWARD(S, isc_rollback_transaction, S*, TR*)
FORWARD(S, isc_rollback_retaining, S*, TR*)
FORWARD(S, isc_prepare_transaction, S*, TR*)
FORWARD(S, isc_prepare_transaction2, S*, TR*, ISC_USHORT, const ISC_UCHAR*)

FORWARD(S, isc_dsql_alloc_statement2, S*, DB*, ST*)
FORWARD(S, isc_dsql_free_statement, S*, ST*, US)
FORWARD(S, isc_dsql_prepare, S*, TR*, ST*, US, const ISC_SCHAR*, US, XSQLDA*)
FORWARD(S, isc_dsql_describe, S*, ST*, US, XSQLDA*)
FORWARD(S, isc_dsql_describe_bind, S*, ST*, US, XSQLDA*)
FORWARD(S, isc_dsql_execute, S*, TR*, ST*, US, const XSQLDA*)
FORWARD(S, isc_dsql_execute2, S*, TR*, ST*, US, const XSQLDA*, const XSQLDA*)
FORWARD(S, isc_dsql_execute_immediate, S*, DB*, TR*, US, const ISC_SCHAR*, US, const XSQLDA*)
FORWARD(S, isc_dsql_exec_immed2, S*, DB*, TR*, US, const ISC_SCHAR*, US, const XSQLDA*,
        const XSQLDA*)
FORWARD(S, isc_dsql_fetch, S*, ST*, US, const XSQLDA*)
FORWARD(S, isc_dsql_set_cursor_name, S*, ST*, const ISC_SCHAR*, US)
FORWARD(S, isc_dsql_sql_info, S*, ST*, short, const ISC_SCHAR*, short, ISC_SCHAR*)

FORWARD(S, isc_open_blob2, S*, DB*, TR*, BL*, ISC_QUAD*, ISC_USHORT, const ISC_UCHAR*)
FORWARD(S, isc_create_blob2, S*, DB*, TR*, BL*, ISC_QUAD*, short, const ISC_SCHAR*)
FORWARD(S, isc_close_blob, S*, BL*)
FORWARD(S, isc_get_segment, S*, BL*, US*, US, ISC_SCHAR*)
FORWARD(S, isc_put_segment, S*, BL*, US, const ISC_SCHAR*)
FORWARD(S, isc_blob_info, S*, BL*, short, const ISC_SCHAR*, short, ISC_SCHAR*)

FORWARD(S, isc_cancel_events, S*, DB*, ISC_LONG*)
FORWARD_VOID(isc_event_counts, ISC_ULONG*, short, ISC_UCHAR*, const ISC_UCHAR*)

FORWARD(S, isc_add_user, S*, const USER_SEC_DATA*)
FORWARD(S, isc_delete_user, S*, const USER_SEC_DATA*)
FORWARD(S, isc_modify_user, S*, const USER_SEC_DATA*)
FORWARD(S, isc_service_attach, S*, US, const ISC_SCHAR*, SV*, US, const ISC_SCHAR*)
FORWARD(S, isc_service_detach, S*, SV*)
FORWARD(S, isc_service_query, S*, SV*, isc_resv_handle*, US, const ISC_SCHAR*, US, const ISC_SCHAR*,
        US, ISC_SCHAR*)
FORWARD(S, isc_service_start, S*, SV*, isc_resv_handle*, US, const ISC_SCHAR*)

FORWARD_VOID(isc_get_client_version, ISC_SCHAR*)
int WINAPI wrap_isc_get_client_major_version(void) {
    return isc_get_client_major_version();
}
int WINAPI wrap_isc_get_client_minor_version(void) {
    return isc_get_client_minor_version();
}

/* ---- struct tm ------------------------------------------------------------------------- */

/* The Windows C runtime's struct tm: the nine ints of the C standard, nothing after them. */
struct win_tm {
    int tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
};
_Static_assert(sizeof(struct win_tm) == 36, "Windows struct tm is 36 bytes");
_Static_assert(sizeof(struct tm) > sizeof(struct win_tm), "Linux struct tm is larger");

static void to_win_tm(const struct tm* t, void* out) {
    const struct win_tm w = {t->tm_sec,  t->tm_min,  t->tm_hour, t->tm_mday, t->tm_mon,
                             t->tm_year, t->tm_wday, t->tm_yday, t->tm_isdst};
    memcpy(out, &w, sizeof w);
}

static struct tm from_win_tm(const void* in) {
    struct win_tm w;
    memcpy(&w, in, sizeof w);
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_sec = w.tm_sec;
    t.tm_min = w.tm_min;
    t.tm_hour = w.tm_hour;
    t.tm_mday = w.tm_mday;
    t.tm_mon = w.tm_mon;
    t.tm_year = w.tm_year;
    t.tm_wday = w.tm_wday;
    t.tm_yday = w.tm_yday;
    t.tm_isdst = w.tm_isdst;
    return t;
}

#define TM_CODEC(type, decode, encode)                                                             \
    void WINAPI wrap_##decode(const type* value, void* times) {                                    \
        struct tm t;                                                                               \
        memset(&t, 0, sizeof t);                                                                   \
        decode(value, &t);                                                                         \
        to_win_tm(&t, times);                                                                      \
    }                                                                                              \
    void WINAPI wrap_##encode(const void* times, type* value) {                                    \
        const struct tm t = from_win_tm(times);                                                    \
        encode(&t, value);                                                                         \
    }

TM_CODEC(ISC_QUAD, isc_decode_date, isc_encode_date)
TM_CODEC(ISC_TIMESTAMP, isc_decode_timestamp, isc_encode_timestamp)
TM_CODEC(ISC_DATE, isc_decode_sql_date, isc_encode_sql_date)
TM_CODEC(ISC_TIME, isc_decode_sql_time, isc_encode_sql_time)

/* ---- Database names --------------------------------------------------------------------- */

static int is_local_host(const char* host, size_t length) {
    static const char* const names[] = {"localhost", "127.0.0.1"};
    size_t end = 0;
    while (end < length && host[end] != '/') /* "host/port" */
        ++end;
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        size_t k = 0;
        while (k < end && names[i][k] != '\0' && (host[k] | 0x20) == names[i][k])
            ++k;
        if (k == end && names[i][k] == '\0')
            return 1;
    }
    return 0;
}

/* True when the path is one Windows would resolve as a file name: a drive letter, or a
 * relative name with backslashes. Aliases, Unix paths and UNC names are left as they are. */
static int is_dos_path(const char* path) {
    if (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':')
        return 1;
    return path[0] != '\\' && strchr(path, '\\') != NULL;
}

/* isc_dpb_utf8_filename in a version-1 DPB: the name is UTF-8, not in the ANSI code page. */
static int dpb_has_utf8_filename(const char* dpb, int length) {
    if (dpb == NULL || length < 1 || dpb[0] != isc_dpb_version1)
        return 0;
    for (int i = 1; i + 1 < length;) {
        if ((unsigned char)dpb[i] == isc_dpb_utf8_filename)
            return 1;
        i += 2 + (unsigned char)dpb[i + 1];
    }
    return 0;
}

/* The database name "[host[/port]:]path" the Linux library is to get. A DOS path, alone or
 * after a local host, is replaced by the Unix path Wine maps it to (the server reached through
 * "localhost:" here is the Linux one). Any other name is only re-encoded: the Windows caller
 * gives it in the ANSI code page (or UTF-8 with isc_dpb_utf8_filename), the Linux library reads
 * it in the Unix locale's character set, UTF-8 here. Returns the new name's length, or -1 to
 * pass the name on as it is. */
static int map_database_name(const char* name, size_t length, int utf8, char* out, size_t size) {
    char given[1024];
    if (length >= sizeof given)
        return -1;
    memcpy(given, name, length);
    given[length] = '\0';

    const char* path = given;
    const char* colon = strchr(given, ':');
    int local = 1;
    if (colon != NULL && colon - given > 1) { /* one letter before ':' is a drive */
        local = is_local_host(given, (size_t)(colon - given));
        path = colon + 1;
    }
    const size_t prefix = (size_t)(path - given);
    const UINT code_page = utf8 ? CP_UTF8 : CP_ACP;

    WCHAR wide[1024];
    if (MultiByteToWideChar(code_page, 0, path, -1, wide, 1024) <= 0)
        return -1;
    char* unix_path = local && is_dos_path(path) ? wine_get_unix_file_name(wide) : NULL;
    if (unix_path != NULL) {
        const size_t total = prefix + strlen(unix_path);
        int result = -1;
        if (total < size && total <= 0x7fff) {
            memcpy(out, given, prefix);
            strcpy(out + prefix, unix_path);
            result = (int)total;
        }
        HeapFree(GetProcessHeap(), 0, unix_path);
        return result;
    }
    if (utf8)
        return -1;
    int ascii = 1;
    for (const char* c = given; *c; ++c)
        if ((unsigned char)*c >= 0x80)
            ascii = 0;
    if (ascii)
        return -1;
    memcpy(out, given, prefix);
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, out + prefix, (int)(size - prefix), NULL, NULL);
    if (n <= 0 || prefix + (size_t)n - 1 > 0x7fff)
        return -1;
    return (int)(prefix + (size_t)n - 1);
}

S WINAPI wrap_isc_attach_database(S* status, short name_length, const ISC_SCHAR* name, DB* db,
                                  short dpb_length, const ISC_SCHAR* dpb) {
    char mapped[4096];
    const size_t length = name_length > 0 ? (size_t)name_length : strlen(name);
    const int n = map_database_name(name, length, dpb_has_utf8_filename(dpb, dpb_length), mapped,
                                    sizeof mapped);
    if (n < 0)
        return isc_attach_database(status, name_length, name, db, dpb_length, dpb);
    return isc_attach_database(status, (short)n, mapped, db, dpb_length, dpb);
}

S WINAPI wrap_isc_create_database(S* status, short name_length, const ISC_SCHAR* name, DB* db,
                                  short dpb_length, const ISC_SCHAR* dpb, short db_type) {
    char mapped[4096];
    const size_t length = name_length > 0 ? (size_t)name_length : strlen(name);
    const int n = map_database_name(name, length, dpb_has_utf8_filename(dpb, dpb_length), mapped,
                                    sizeof mapped);
    if (n < 0)
        return isc_create_database(status, name_length, name, db, dpb_length, dpb, db_type);
    return isc_create_database(status, (short)n, mapped, db, dpb_length, dpb, db_type);
}

/* ---- Messages ---------------------------------------------------------------------------- */

/* The Linux library's messages carry text in the Unix locale's character set, UTF-8 here: an
 * operating-system error in the locale's language, a file name. A Windows client library gives
 * such text in the ANSI code page. Converted in place (never longer than before); returns the
 * new length. */
static ISC_LONG utf8_to_ansi(char* text, ISC_LONG length) {
    int ascii = 1;
    for (ISC_LONG i = 0; i < length; ++i)
        if ((unsigned char)text[i] >= 0x80)
            ascii = 0;
    if (ascii)
        return length;
    WCHAR wide[1024];
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, (int)length, wide, 1024);
    if (n <= 0)
        return length;
    char ansi[1024];
    const int m = WideCharToMultiByte(CP_ACP, 0, wide, n, ansi, sizeof ansi, NULL, NULL);
    if (m <= 0 || m > length)
        return length;
    memcpy(text, ansi, (size_t)m);
    text[m] = '\0';
    return m;
}

FB_CHECK(ISC_LONG, fb_interpret, ISC_SCHAR*, unsigned int, const S**)
ISC_LONG WINAPI wrap_fb_interpret(ISC_SCHAR* buffer, unsigned int size, const S** vector) {
    const ISC_LONG n = fb_interpret(buffer, size, vector);
    return n > 0 ? utf8_to_ansi(buffer, n) : n;
}

FB_CHECK(ISC_LONG, isc_interprete, ISC_SCHAR*, S**)
ISC_LONG WINAPI wrap_isc_interprete(ISC_SCHAR* buffer, S** vector) {
    const ISC_LONG n = isc_interprete(buffer, vector);
    return n > 0 ? utf8_to_ansi(buffer, n) : n;
}

/* ---- Events ------------------------------------------------------------------------------ */

/* The Linux library would call the callback from a thread of its own that Wine does not know,
 * where Windows code cannot run: refused with "feature is not supported". */
S WINAPI wrap_isc_que_events(S* status, DB* db, ISC_LONG* id, short length, const ISC_UCHAR* events,
                             ISC_EVENT_CALLBACK callback, void* arg) {
    (void)db, (void)id, (void)length, (void)events, (void)callback, (void)arg;
    static const char reason[] = "isc_que_events is not available in the Wine test client library";
    status[0] = isc_arg_gds;
    status[1] = isc_wish_list;
    status[2] = isc_arg_gds;
    status[3] = isc_random;
    status[4] = isc_arg_string;
    status[5] = (S)(intptr_t)reason;
    status[6] = isc_arg_end;
    return status[1];
}

/* The event names come as Windows variable arguments; the Linux function gets them as its
 * own. Firebird takes at most 15 names in one block. */
ISC_LONG CDECL wrap_isc_event_block(ISC_UCHAR** event_buffer, ISC_UCHAR** result_buffer,
                                    ISC_USHORT count, ...) {
    const char* names[15] = {0};
    if (count > 15)
        return 0;
    __ms_va_list args;
    __ms_va_start(args, count);
    for (unsigned i = 0; i < count; ++i)
        names[i] = __builtin_va_arg(args, const char*);
    __ms_va_end(args);
    return isc_event_block(event_buffer, result_buffer, count, names[0], names[1], names[2],
                           names[3], names[4], names[5], names[6], names[7], names[8], names[9],
                           names[10], names[11], names[12], names[13], names[14]);
}
