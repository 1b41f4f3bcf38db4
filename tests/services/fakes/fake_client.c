/* A stand-in for the database client library, built in several variants by
 * the test build (see CMakeLists.txt). The variants differ in which entry
 * points they export:
 *   FAKE_OMIT_REQUIRED           lacks isc_dsql_fetch, which every client has
 *   FAKE_NO_ROLLBACK_RETAINING   an old client without isc_rollback_retaining (nor
 *                                the version functions)
 *   FAKE_NO_CLIENT_VERSION       a client without isc_get_client_version
 * Every variant carries the script controls (fake_*) so tests can decide what
 * the service calls answer and read back what they were sent. Only the entry
 * points the services client calls have their real signatures; the others are
 * plain stubs that only need to be found. */

#include <malloc.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

typedef intptr_t ISC_STATUS;
typedef unsigned int HANDLE32;
typedef int ISC_LONG;

#define STUB(name)          \
    EXPORT int name(void) { \
        return 0;           \
    }

STUB(BLOB_get)
STUB(BLOB_put)
STUB(isc_blob_info)
STUB(isc_open_blob2)
STUB(isc_close_blob)
STUB(isc_get_segment)
STUB(isc_put_segment)
STUB(isc_create_blob2)
STUB(isc_blob_lookup_desc)
STUB(isc_blob_set_desc)
STUB(isc_cancel_blob)
STUB(isc_decode_date)
STUB(isc_encode_date)
STUB(isc_dsql_free_statement)
STUB(isc_dsql_execute2)
STUB(isc_dsql_execute)
STUB(isc_dsql_set_cursor_name)
#ifndef FAKE_OMIT_REQUIRED
STUB(isc_dsql_fetch)
#endif
STUB(isc_dsql_sql_info)
STUB(isc_dsql_alloc_statement2)
STUB(isc_dsql_prepare)
STUB(isc_dsql_describe_bind)
STUB(isc_dsql_describe)
STUB(isc_dsql_execute_immediate)
STUB(isc_dsql_exec_immed2)
STUB(isc_drop_database)
STUB(isc_detach_database)
STUB(isc_attach_database)
STUB(isc_database_info)
STUB(isc_start_multiple)
STUB(isc_commit_transaction)
STUB(isc_commit_retaining)
STUB(isc_rollback_transaction)
#ifndef FAKE_NO_ROLLBACK_RETAINING
STUB(isc_rollback_retaining)
#endif
STUB(isc_cancel_events)
STUB(isc_que_events)
STUB(isc_event_counts)
STUB(isc_event_block)
STUB(isc_free)
STUB(isc_wait_for_event)
STUB(isc_transaction_info)
STUB(isc_prepare_transaction)
STUB(isc_prepare_transaction2)
STUB(isc_array_lookup_bounds)
STUB(isc_array_get_slice)
STUB(isc_array_put_slice)
STUB(isc_array_set_desc)
STUB(isc_array_lookup_desc)
STUB(isc_add_user)
STUB(isc_delete_user)
STUB(isc_modify_user)
STUB(isc_decode_sql_date)
STUB(isc_decode_sql_time)
STUB(isc_decode_timestamp)
STUB(isc_encode_sql_date)
STUB(isc_encode_sql_time)
STUB(isc_encode_timestamp)
STUB(isc_portable_integer)

/* ---- script state ---------------------------------------------------- */

enum { MAX_RESPONSES = 64, MAX_LINES = 16, BLOCK_MAX = 70000 };

struct Response {
    char* bytes;
    int length;
};

static struct Response responses[MAX_RESPONSES];
static int responseHead, responseTail;

static char* serverLines[MAX_LINES];
static int serverLineCount, serverLineNext;
static char sqlMessage[1024];
static ISC_LONG sqlCodeValue = -902;

/* Per call kind: 0 attach, 1 detach, 2 query, 3 start. */
static ISC_STATUS failCode[4];
static int failAfter[4];

EXPORT int fake_calls[4];
EXPORT int fake_major_version_calls;
EXPORT char fake_last_service_name[1024];
EXPORT unsigned char fake_last_spb[BLOCK_MAX];
EXPORT int fake_last_spb_length;
EXPORT unsigned char fake_last_start[BLOCK_MAX];
EXPORT int fake_last_start_length;
EXPORT unsigned char fake_last_send[BLOCK_MAX];
EXPORT int fake_last_send_length;
EXPORT unsigned char fake_last_request[BLOCK_MAX];
EXPORT int fake_last_request_length;
EXPORT int fake_last_buffer_length;
/* What the allocator really gave the buffer the answer is written into. */
EXPORT size_t fake_last_buffer_capacity;
EXPORT HANDLE32 fake_last_handle;
EXPORT unsigned short fake_fpu_word_after_call = 0;

static HANDLE32 nextHandle = 100;

EXPORT void fake_reset(void) {
    for (int i = responseHead; i < responseTail; ++i) free(responses[i % MAX_RESPONSES].bytes);
    responseHead = responseTail = 0;
    for (int i = 0; i < serverLineCount; ++i) free(serverLines[i]);
    serverLineCount = serverLineNext = 0;
    sqlMessage[0] = '\0';
    sqlCodeValue = -902;
    memset(failCode, 0, sizeof failCode);
    memset(failAfter, 0, sizeof failAfter);
    memset(fake_calls, 0, sizeof fake_calls);
    fake_last_service_name[0] = '\0';
    fake_last_spb_length = fake_last_start_length = fake_last_request_length = 0;
    fake_last_send_length = 0;
    fake_last_buffer_length = 0;
    fake_last_buffer_capacity = 0;
    fake_last_handle = 0;
}

/* The next query answers with these bytes (copied, cut to the buffer). */
EXPORT void fake_push_response(const char* bytes, int length) {
    if (responseTail - responseHead >= MAX_RESPONSES)
        return;
    struct Response* r = &responses[responseTail % MAX_RESPONSES];
    r->bytes = malloc((size_t)length + 1);
    memcpy(r->bytes, bytes, (size_t)length);
    r->length = length;
    ++responseTail;
}

EXPORT int fake_pending_responses(void) {
    return responseTail - responseHead;
}

/* Call kind `kind` fails with `code` once `after` more calls of it succeeded. */
EXPORT void fake_fail(int kind, long code, int after) {
    failCode[kind] = code;
    failAfter[kind] = after;
}

EXPORT void fake_set_sql(int sqlcode, const char* message) {
    sqlCodeValue = sqlcode;
    strncpy(sqlMessage, message, sizeof sqlMessage - 1);
    sqlMessage[sizeof sqlMessage - 1] = '\0';
}

EXPORT void fake_add_server_line(const char* line) {
    if (serverLineCount < MAX_LINES)
        serverLines[serverLineCount++] = strdup(line);
}

static unsigned short ReadFpuWord(void) {
    unsigned short word = 0;
#if defined(__x86_64__) || defined(__i386__)
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
#endif
    return word;
}

/* A client library may leave its own floating-point settings behind. */
static void ClobberFpu(void) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned short word = (unsigned short)(ReadFpuWord() & ~0x0300u); /* single precision */
    __asm__ __volatile__("fldcw %0" : : "m"(word));
#endif
}

static ISC_STATUS Outcome(int kind, ISC_STATUS* status) {
    ++fake_calls[kind];
    memset(status, 0, 20 * sizeof(ISC_STATUS));
    ClobberFpu();
    if (failCode[kind] != 0) {
        if (failAfter[kind] > 0) {
            --failAfter[kind];
        } else {
            status[0] = 1;
            status[1] = failCode[kind];
            status[2] = 0;
            failCode[kind] = 0;
            return status[1];
        }
    }
    return 0;
}

/* ---- entry points with their real signatures ------------------------- */

EXPORT ISC_LONG isc_sqlcode(const ISC_STATUS* status) {
    (void)status;
    ClobberFpu();
    serverLineNext = 0;
    return sqlCodeValue;
}

EXPORT void isc_sql_interprete(short sqlcode, char* buffer, short length) {
    (void)sqlcode;
    ClobberFpu();
    strncpy(buffer, sqlMessage, (size_t)length);
    if (length > 0)
        buffer[length - 1] = '\0';
}

EXPORT ISC_LONG isc_interprete(char* buffer, ISC_STATUS** cursor) {
    (void)cursor;
    ClobberFpu();
    if (serverLineNext >= serverLineCount)
        return 0;
    const char* line = serverLines[serverLineNext++];
    strcpy(buffer, line);
    /* An empty line still counts as one, as the real function reports it. */
    return line[0] ? (ISC_LONG)strlen(line) : 1;
}

EXPORT ISC_LONG isc_vax_integer(const char* bytes, short length) {
    unsigned long value = 0;
    ClobberFpu();
    for (int i = 0; i < length; ++i) value |= (unsigned long)(unsigned char)bytes[i] << (8 * i);
    if (length == 2)
        return (short)value;
    return (int)value;
}

EXPORT ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength,
                                     const char* name, HANDLE32* handle, unsigned short spbLength,
                                     const char* spb) {
    size_t n = nameLength < sizeof fake_last_service_name - 1 ? nameLength
                                                              : sizeof fake_last_service_name - 1;
    memcpy(fake_last_service_name, name, n);
    fake_last_service_name[n] = '\0';
    memcpy(fake_last_spb, spb, spbLength);
    fake_last_spb_length = spbLength;
    ISC_STATUS result = Outcome(0, status);
    if (result == 0)
        *handle = nextHandle++;
    return result;
}

EXPORT ISC_STATUS isc_service_detach(ISC_STATUS* status, HANDLE32* handle) {
    fake_last_handle = *handle;
    ISC_STATUS result = Outcome(1, status);
    if (result == 0)
        *handle = 0;
    return result;
}

EXPORT ISC_STATUS isc_service_query(ISC_STATUS* status, HANDLE32* handle, HANDLE32* reserved,
                                    unsigned short sendLength, const char* send,
                                    unsigned short requestLength, const char* request,
                                    unsigned short bufferLength, char* buffer) {
    (void)reserved;
    fake_last_handle = *handle;
    if (sendLength > 0)
        memcpy(fake_last_send, send, sendLength);
    fake_last_send_length = sendLength;
    memcpy(fake_last_request, request, requestLength);
    fake_last_request_length = requestLength;
    fake_last_buffer_length = bufferLength;
    fake_last_buffer_capacity = buffer ? malloc_usable_size(buffer) : 0;
    ISC_STATUS result = Outcome(2, status);
    if (result != 0)
        return result;
    if (responseHead < responseTail) {
        struct Response* r = &responses[responseHead % MAX_RESPONSES];
        ++responseHead;
        int n = r->length < bufferLength ? r->length : bufferLength;
        memcpy(buffer, r->bytes, (size_t)n);
        free(r->bytes);
    } else {
        /* Unscripted: the answer of a finished action with nothing more to say,
         * one cluster per requested item. */
        int at = 0;
        for (int i = 0; i < requestLength && at + 8 < bufferLength; ++i) {
            const char item = request[i];
            buffer[at++] = item;
            if (item == 67 || item == 78) { /* running, input wanted: 0 */
                memset(buffer + at, 0, 4);
                at += 4;
            } else if (item == 55) { /* server version */
                const char version[] = "LI-V7.3.0.1 Fake 7.3";
                const int n = (int)sizeof version - 1;
                if (at + 2 + n + 1 > bufferLength)
                    break;
                buffer[at++] = (char)n;
                buffer[at++] = 0;
                memcpy(buffer + at, version, (size_t)n);
                at += n;
            } else { /* output: empty text */
                buffer[at++] = 0;
                buffer[at++] = 0;
            }
        }
        buffer[at] = 1;
    }
    return 0;
}

EXPORT ISC_STATUS isc_service_start(ISC_STATUS* status, HANDLE32* handle, HANDLE32* reserved,
                                    unsigned short length, const char* block) {
    (void)reserved;
    fake_last_handle = *handle;
    memcpy(fake_last_start, block, length);
    fake_last_start_length = length;
    return Outcome(3, status);
}

/* An old client has neither of the two later additions. */
#if !defined(FAKE_NO_CLIENT_VERSION) && !defined(FAKE_NO_ROLLBACK_RETAINING)
EXPORT void isc_get_client_version(char* buffer) {
    strcpy(buffer, "fake 7.3");
}
EXPORT int isc_get_client_major_version(void) {
    ++fake_major_version_calls;
    return 7;
}
EXPORT int isc_get_client_minor_version(void) {
    return 3;
}
#endif
