// The generated glue: each function hands its type's code and its own
// arguments, unchanged and in order, to one generic function of the runtime.
#include "properties/korvo_types.h"
#include "runtime/generic.h"
#include "runtime/mg_memory.h"

namespace {

// A copy by value out of the block _generic_copy returns; zeroed when the
// copy failed (the failure is in env).
template <typename T>
T take_copy(void *block) {
    T value{};
    if (block != nullptr) {
        value = *static_cast<T *>(block);
        mg_free(block);
    }
    return value;
}

}  // namespace

#define KORVO_DEFINE_GLUE(T, CType, tc)                                                    \
    extern "C" int equal_Vem_Korvo2_##T(const CType *a, const CType *b, Env *env) {        \
        return _generic_equal(tc, a, b, env);                                              \
    }                                                                                      \
    extern "C" CType copy_Vem_Korvo2_##T(const CType *value, Env *env) {                   \
        return take_copy<CType>(_generic_copy(tc, value, env));                            \
    }                                                                                      \
    extern "C" int t_equal_Vem_Korvo2_##T(Env *env, const CType *a, const CType *b) {      \
        return _t_generic_equal(tc, env, a, b);                                            \
    }                                                                                      \
    extern "C" CType t_copy_Vem_Korvo2_##T(Env *env, const CType *source, CType *target) { \
        _t_generic_copy(tc, env, source, target);                                          \
        return target != nullptr ? *target : CType{};                                      \
    }

KORVO_DEFINE_GLUE(Property, Property, TC_Vem_Korvo2_Property)
KORVO_DEFINE_GLUE(_sequence_Property_Properties, Properties,
                  TC_Vem_Korvo2__sequence_Property_Properties)
KORVO_DEFINE_GLUE(_sequence_Properties_PropertiesList, PropertiesList,
                  TC_Vem_Korvo2__sequence_Properties_PropertiesList)
KORVO_DEFINE_GLUE(_sequence_PropertiesList_PropertiesListList, PropertiesListList,
                  TC_Vem_Korvo2__sequence_PropertiesList_PropertiesListList)
KORVO_DEFINE_GLUE(_sequence_octet_StreamKey, StreamKey, TC_Vem_Korvo2__sequence_octet_StreamKey)
