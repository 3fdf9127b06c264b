/* A header for the check of the API reference: a comment above a group of
 * declarations documents each of them; a function without one fails. */
#ifndef KORVO_DOCS_FIXTURE_H
#define KORVO_DOCS_FIXTURE_H

/* Documented, and so is its neighbour. */
int documented_first(int value);
int documented_second(const char *text,
                      int value);

int bare_function(void);

#endif
