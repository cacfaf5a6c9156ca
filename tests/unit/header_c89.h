/* The table that header_c89.c, compiled as C89, gives the C++ test. */
#ifndef QRI_TEST_HEADER_C89_H
#define QRI_TEST_HEADER_C89_H

#ifdef __cplusplus
extern "C" {
#endif

struct QriHeaderText {
    const char *name;
    const char *value;
};

/* Ends with a row of two null pointers. */
extern const struct QriHeaderText qri_c89_texts[];
extern const long qri_c89_task_running;
extern const long qri_c89_task_ended;
extern const unsigned long qri_c89_reboot_timeout_none;

#ifdef __cplusplus
}
#endif

#endif
