/*
 * The Corvane host operations a loadable module calls, and the records they
 * exchange. The host implements every function declared here; a module only
 * calls them and fills in the records it hands over.
 */
#ifndef CORVANE_H
#define CORVANE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Log levels. */
#define CVN_LOG_DEBUG 0
#define CVN_LOG_NOTICE 2
#define CVN_LOG_WARNING 3
#define CVN_LOG_ERROR 4

/* Module flags and support levels. */
#define CVN_MODFLAG_GLOBAL_SYMBOLS (1 << 0)
#define CVN_MODFLAG_LOAD_ORDER (1 << 1)
#define CVN_MODULE_SUPPORT_UNKNOWN 0
#define CVN_MODULE_SUPPORT_CORE 1
#define CVN_MODULE_SUPPORT_EXTENDED 2
#define CVN_MODULE_SUPPORT_DEPRECATED 3

/* Frame types. */
#define CVN_FRAME_DTMF 1
#define CVN_FRAME_VOICE 2
#define CVN_FRAME_NULL 5

/* Media types. */
#define CVN_MEDIA_TYPE_AUDIO 1

/* Console request codes: anything else is an execution request. */
#define CVN_CLI_INIT (-2)
#define CVN_CLI_GENERATE (-3)

/* A media format known to the host; modules only pass the handles around. */
struct cvn_format;

/* The host's handles for signed linear 16-bit 8 kHz audio and for G.729. */
extern struct cvn_format *cvn_format_slin;
extern struct cvn_format *cvn_format_g729;

struct cvn_frame {
    int frametype;             /* CVN_FRAME_VOICE for media */
    struct cvn_format *format;
    int samples;               /* sample count */
    int datalen;               /* byte count */
    const char *src;           /* source label */
    void *data;
};

struct cvn_codec_info {
    const char *name;          /* "slin", "g729" */
    int type;                  /* CVN_MEDIA_TYPE_AUDIO */
    unsigned int sample_rate;
};

struct cvn_trans_pvt;

struct cvn_translator {
    char name[80];
    struct cvn_codec_info src_codec;
    struct cvn_codec_info dst_codec;
    const char *format;        /* name of the output format */
    int (*newpvt)(struct cvn_trans_pvt *pvt);
    int (*framein)(struct cvn_trans_pvt *pvt, struct cvn_frame *in);
    struct cvn_frame *(*frameout)(struct cvn_trans_pvt *pvt); /* NULL: the host's standard frame-out */
    struct cvn_frame *(*feedback)(struct cvn_trans_pvt *pvt, struct cvn_frame *in);
    void (*destroy)(struct cvn_trans_pvt *pvt);
    struct cvn_frame *(*sample)(void);
    int buffer_samples;        /* capacity of the instance, in samples */
    int buffer_size;           /* output buffer size in bytes */
    int desc_size;             /* private area size in bytes */
    int native_plc;
    /* Filled in by the host at registration. */
    void *module;
    int cost;                  /* microseconds of work per second of audio */
    int active;
};

/* One translation step of a path: the host owns it and its areas. */
struct cvn_trans_pvt {
    struct cvn_translator *t;
    struct cvn_frame f;        /* the frame handed back to the host */
    int samples;               /* sample counter */
    int datalen;               /* byte counter */
    void *pvt;                 /* private area of t->desc_size bytes, zeroed */
    union {
        char *c;
        unsigned char *uc;
        int16_t *i16;
    } outbuf;                  /* output buffer of t->buffer_size bytes */
};

struct cvn_module_info {
    void *self;                /* the host's handle, stored before load is called */
    int (*load)(void);
    int (*reload)(void);
    int (*unload)(void);
    const char *name;
    const char *description;
    unsigned int flags;
    int load_pri;
    int support_level;
    const char *requires;
    const char *optional_modules;
    const char *enhances;
};

struct cvn_cli_args {
    int fd;                    /* console to answer on */
    int argc;
    const char *const *argv;
    const char *line;          /* the whole command line */
};

struct cvn_cli_entry {
    const char *command;       /* command words, set by the handler on CVN_CLI_INIT */
    const char *summary;
    const char *usage;         /* set by the handler on CVN_CLI_INIT */
    char *(*handler)(struct cvn_cli_entry *e, int cmd, struct cvn_cli_args *a);
    /* Filled in by the host. */
    void *module;
    int registered;
};

void cvn_module_register(struct cvn_module_info *info);
void cvn_module_unregister(struct cvn_module_info *info);

int __cvn_cli_register_multiple(struct cvn_cli_entry *entries, int count, void *module);
int cvn_cli_unregister_multiple(struct cvn_cli_entry *entries, int count);
void cvn_cli(int fd, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

int __cvn_register_translator(struct cvn_translator *t, void *module);
int cvn_unregister_translator(struct cvn_translator *t);
struct cvn_frame *cvn_trans_frameout(struct cvn_trans_pvt *pvt, int datalen, int samples);

void cvn_log(int level, const char *file, int line, const char *function, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_H */
