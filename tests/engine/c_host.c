/* A plain C host of the engine: no Qt of its own, the library is dlopen()ed.
 * Usage: engine_c_host <libcorvanews20.so> <echo url> <big url>
 * Connects to the echo url, sends a text and prints the echo; then receives
 * the big url's one message with a new object, counting bytes, and prints
 * the peak RSS before and after it.
 * Or: engine_c_host <libcorvanews20.so> --until-closed <url>
 * Connects, pumps events while polling Connected, and destroys the object and
 * exits the moment Connected turns false (a server that closes first). */
#include "engine/include/corvanews20.h"

#include <dlfcn.h>
#include <uchar.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef void* (*create_fn)(CorvaneWS_EventSink, void*, void*, int);
typedef int (*destroy_fn)(void*);
typedef int (*set_fn)(void*, int, int, const void*, int);
typedef void* (*get_fn)(void*, int, int, int*, long long*);
typedef int (*do_fn)(void*, int, int, void**, int*, void*);
typedef const char* (*error_fn)(void*);

static create_fn create;
static destroy_fn destroy;
static set_fn set;
static get_fn get;
static do_fn call;
static error_fn last_error;

struct state {
    char echo[256];
    long long received;
    int messages;
    int disconnected;
};

static int sink(void* user, int event, int argc, void** argv, int* arglen)
{
    struct state* s = (struct state*)user;
    (void)argc;
    if (event == 3) {
        if (s->received == 0 && arglen[1] < (int)sizeof s->echo) {
            memcpy(s->echo, argv[1], (size_t)arglen[1]);
            s->echo[arglen[1]] = 0;
        }
        s->received += arglen[1];
        if (argv[2])
            s->messages++;
    } else if (event == 4) {
        s->disconnected = 1;
    } else if (event == 11) {
        argv[4] = (void*)1;   /* the tests' own self-signed server */
    }
    return 0;
}

/* UTF-16 copy of an ASCII text. */
static char16_t* u16(const char* text)
{
    size_t n = strlen(text);
    char16_t* w = calloc(n + 1, sizeof(char16_t));
    for (size_t k = 0; k < n; ++k)
        w[k] = (char16_t)(unsigned char)text[k];
    return w;
}

static int call1(void* h, int method, const char* arg)
{
    char16_t* w = u16(arg);
    void* argv[2] = {w, NULL};
    int arglen[2] = {0, 0};
    int rc = call(h, method, 1, argv, arglen, NULL);
    free(w);
    return rc;
}

static int pump_until(void* h, int* flag, int target, int seconds)
{
    time_t end = time(NULL) + seconds;
    while (*flag < target) {
        if (time(NULL) > end)
            return 0;
        call(h, 10006, 0, NULL, NULL, NULL);
    }
    return 1;
}

static long peak_rss_kib(void)
{
    FILE* f = fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (f && fgets(line, sizeof line, f))
        if (strncmp(line, "VmHWM:", 6) == 0)
            kib = strtol(line + 6, NULL, 10);
    if (f)
        fclose(f);
    return kib;
}

static int until_closed(const char* url)
{
    struct state s;
    memset(&s, 0, sizeof s);
    void* h = create(sink, &s, NULL, 1);
    if (!h)
        return 3;
    set(h, 46, 0, (void*)(intptr_t)10, 0);
    if (call1(h, 10004, url) != 0) {
        fprintf(stderr, "connect: %s\n", last_error(h));
        return 4;
    }
    time_t end = time(NULL) + 20;
    while (get(h, 5, 0, NULL, NULL) != NULL) {
        if (time(NULL) > end) {
            fprintf(stderr, "still connected\n");
            return 5;
        }
        call(h, 10006, 0, NULL, NULL, NULL);
    }
    /* No more event pumping: whatever the engine owed the server must be out. */
    destroy(h);
    printf("closed\n");
    fflush(stdout);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: %s library echo-url big-url\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 2;
    }
    create = (create_fn)dlsym(lib, "CorvaneWS_WebSocketClient_Create");
    destroy = (destroy_fn)dlsym(lib, "CorvaneWS_WebSocketClient_Destroy");
    set = (set_fn)dlsym(lib, "CorvaneWS_WebSocketClient_Set");
    call = (do_fn)dlsym(lib, "CorvaneWS_WebSocketClient_Do");
    last_error = (error_fn)dlsym(lib, "CorvaneWS_WebSocketClient_GetLastError");
    get = (get_fn)dlsym(lib, "CorvaneWS_WebSocketClient_Get");
    if (!create || !destroy || !set || !get || !call || !last_error) {
        fprintf(stderr, "missing exports\n");
        return 2;
    }
    if (strcmp(argv[2], "--until-closed") == 0)
        return until_closed(argv[3]);

    struct state s;
    memset(&s, 0, sizeof s);
    void* h = create(sink, &s, NULL, 1);
    if (!h)
        return 3;
    set(h, 46, 0, (void*)(intptr_t)10, 0);
    if (call1(h, 10004, argv[2]) != 0) {
        fprintf(stderr, "connect: %s\n", last_error(h));
        return 4;
    }
    call1(h, 10013, "hello from C");
    if (!pump_until(h, &s.messages, 1, 10)) {
        fprintf(stderr, "no echo\n");
        return 5;
    }
    printf("echo: %s\n", s.echo);
    call(h, 10005, 0, NULL, NULL, NULL);
    /* The engine frees its own application object with the last object; a
     * new object must bring up a working one again. */
    destroy(h);
    printf("baseline-rss-kib %ld\n", peak_rss_kib());

    memset(&s, 0, sizeof s);
    h = create(sink, &s, NULL, 1);
    if (!h)
        return 3;
    set(h, 46, 0, (void*)(intptr_t)10, 0);
    if (call1(h, 10004, argv[3]) != 0) {
        fprintf(stderr, "connect big: %s\n", last_error(h));
        return 6;
    }
    if (!pump_until(h, &s.messages, 1, 90)) {
        fprintf(stderr, "big message incomplete: %lld bytes\n", s.received);
        return 7;
    }
    printf("received %lld bytes\n", s.received);
    printf("peak-rss-kib %ld\n", peak_rss_kib());
    call(h, 10005, 0, NULL, NULL, NULL);
    destroy(h);
    fflush(stdout);
    return 0;
}
