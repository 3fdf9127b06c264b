/* A library for the KesRtlLoad tests: says which copy of it was loaded. */
__attribute__((visibility("default"))) int kes_rtl_probe(void);

int kes_rtl_probe(void) {
    return KES_RTL_PROBE_NUMBER;
}
