// korvo C++ interface: property lists. PropertiesView reads and fills a
// list it does not own (an element of a TOC, a progress record's list);
// PropertyList owns one (properties_new ... properties_delete + mg_free).
// ListView and its iterator walk a list of lists (a TOC). Getters raise as
// the C getters do (message 36 for a missing key, 37 for another type),
// thrown as korvo::Error.
//
//   korvo::PropertyList segment;
//   segment.put_string(SEGMENT_ID_KEY, "seg-1").put_long(SEGMENT_SIZE_KEY, 12);
//   for (const korvo::PropertyRef &property : segment)
//       std::cout << property.key() << '\n';
//
// Ownership: string_views and spans that getters return point into the list
// and stay valid until the property is replaced or removed, or the list
// ends. Putters copy what they are given.
// Threads: a list is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "korvo/cxx/error.hpp"
#include "properties/korvo_properties.h"
#include "properties/korvo_types.h"
#include "properties/property_files.h"
#include "runtime/mg_memory.h"
#include "runtime/typecode.h"

namespace korvo {

namespace detail {
// A NUL-terminated copy of a key or a value for the C calls.
inline std::string c_text(std::string_view text) {
    return std::string(text);
}
}  // namespace detail

/// One property of a list, as an iterator gives it.
class PropertyRef {
  public:
    /// A view of `property`, which stays its list's.
    explicit PropertyRef(const Property *property) noexcept : property_(property) {}
    /// The property's key.
    std::string_view key() const noexcept {
        return property_->key != nullptr ? std::string_view(property_->key) : std::string_view();
    }
    /// The value's type code (TC_string, TC_long ...).
    TypeCode type() const noexcept { return property_->value.type; }
    /// Whether the value has the type `type`.
    bool holds(TypeCode type) const noexcept {
        return property_->value.type != nullptr &&
               TypeCode_equal(property_->value.type, nullptr, type) != 0;
    }
    /// The C property.
    const Property *get() const noexcept { return property_; }

  private:
    const Property *property_;
};

/// A forward iterator over the elements of a runtime sequence, giving
/// `Ref` (a view of one element).
template <typename Element, typename Ref>
class SequenceIterator {
  public:
    using iterator_concept = std::forward_iterator_tag;
    using iterator_category = std::forward_iterator_tag;
    using value_type = Ref;
    using difference_type = std::ptrdiff_t;
    using reference = Ref;

    /// The iterator's operations: default construction, construction at an
    /// element, dereference (a view of the element), increments, equality.
    ///@{
    SequenceIterator() noexcept = default;
    explicit SequenceIterator(Element *at) noexcept : at_(at) {}
    Ref operator*() const noexcept { return Ref(at_); }
    SequenceIterator &operator++() noexcept {
        ++at_;
        return *this;
    }
    SequenceIterator operator++(int) noexcept {
        SequenceIterator before = *this;
        ++at_;
        return before;
    }
    bool operator==(const SequenceIterator &other) const noexcept = default;
    ///@}

  private:
    Element *at_ = nullptr;
};

/// Property files' layouts (property_files.h).
enum class Layout { plain, marked, bare };

/// A list the caller does not own: every getter and putter of the C
/// interface, typed.
class PropertiesView {
  public:
    using iterator = SequenceIterator<const Property, PropertyRef>;

    /// A view of `list`, which stays its owner's.
    explicit PropertiesView(Properties *list) noexcept : list_(list) {}

    /// The C list.
    Properties *get() const noexcept { return list_; }
    /// The number of properties, and whether there is none.
    ///@{
    std::size_t size() const noexcept { return list_->buffer != nullptr ? list_->length : 0; }
    bool empty() const noexcept { return size() == 0; }
    ///@}
    /// The properties in list order, as PropertyRef.
    ///@{
    iterator begin() const noexcept { return iterator(list_->buffer); }
    iterator end() const noexcept { return iterator(list_->buffer + size()); }
    ///@}

    /// Whether a property with `key` exists.
    bool contains(std::string_view key) const {
        const std::string k = detail::c_text(key);
        return properties_find(list_, k.c_str()) != 0;
    }

    /// Getters: the key must exist (message 36) and hold the type (37).
    /// Strings and octets point into the list.
    ///@{
    std::string_view get_string(std::string_view key) const {
        const std::string k = detail::c_text(key);
        const char *value = call([&] { return properties_get_string(list_, k.c_str()); });
        return value != nullptr ? std::string_view(value) : std::string_view();
    }
    int32_t get_long(std::string_view key) const {
        const std::string k = detail::c_text(key);
        return call([&] { return properties_get_long(list_, k.c_str()); });
    }
    uint32_t get_ulong(std::string_view key) const {
        const std::string k = detail::c_text(key);
        return call([&] { return properties_get_ulong(list_, k.c_str()); });
    }
    int16_t get_short(std::string_view key) const {
        const std::string k = detail::c_text(key);
        return call([&] { return properties_get_short(list_, k.c_str()); });
    }
    bool get_boolean(std::string_view key) const {
        const std::string k = detail::c_text(key);
        return call([&] { return properties_get_boolean(list_, k.c_str()); }) != 0;
    }
    std::span<const uint8_t> get_octets(std::string_view key) const {
        const std::string k = detail::c_text(key);
        const OctetList *octets = call([&] { return properties_get_OctetList(list_, k.c_str()); });
        if (octets == nullptr || octets->buffer == nullptr)
            return {};
        return {octets->buffer, octets->length};
    }
    PropertiesView get_properties(std::string_view key) const {
        const std::string k = detail::c_text(key);
        return PropertiesView(call([&] { return properties_get_properties(list_, k.c_str()); }));
    }
    ///@}

    /// Getters with a default for an absent key; another type still raises
    /// message 37.
    ///@{
    std::string_view get_string(std::string_view key, std::string_view fallback) const {
        const std::string k = detail::c_text(key);
        const char *value = call([&] { return properties_get_string2(list_, k.c_str(), nullptr); });
        return value != nullptr ? std::string_view(value) : fallback;
    }
    int32_t get_long(std::string_view key, int32_t fallback) const {
        const std::string k = detail::c_text(key);
        return call([&] { return properties_get_long2(list_, k.c_str(), fallback); });
    }
    uint32_t get_ulong(std::string_view key, uint32_t fallback) const {
        const std::string k = detail::c_text(key);
        return call([&] { return properties_get_ulong2(list_, k.c_str(), fallback); });
    }
    int16_t get_short(std::string_view key, int16_t fallback) const {
        const std::string k = detail::c_text(key);
        return call([&] { return properties_get_short2(list_, k.c_str(), fallback); });
    }
    bool get_boolean(std::string_view key, bool fallback) const {
        const std::string k = detail::c_text(key);
        return call([&] { return properties_get_boolean2(list_, k.c_str(), fallback ? 1 : 0); }) !=
               0;
    }
    ///@}

    /// Putters: a copy of the value replaces the property with the key (in
    /// its position) or is appended. They return the view for chaining.
    /// Exhausted memory is thrown as korvo::Error.
    ///@{
    PropertiesView &put_string(std::string_view key, std::string_view value) {
        const std::string k = detail::c_text(key), v = detail::c_text(value);
        call([&] { properties_put_string_dup(list_, k.c_str(), v.c_str()); });
        return *this;
    }
    PropertiesView &put_long(std::string_view key, int32_t value) {
        const std::string k = detail::c_text(key);
        call([&] { properties_put_long_dup(list_, k.c_str(), value); });
        return *this;
    }
    PropertiesView &put_ulong(std::string_view key, uint32_t value) {
        const std::string k = detail::c_text(key);
        call([&] { properties_put_ulong_dup(list_, k.c_str(), value); });
        return *this;
    }
    PropertiesView &put_short(std::string_view key, int16_t value) {
        const std::string k = detail::c_text(key);
        call([&] { properties_put_short_dup(list_, k.c_str(), value); });
        return *this;
    }
    PropertiesView &put_boolean(std::string_view key, bool value) {
        const std::string k = detail::c_text(key);
        call([&] { properties_put_boolean_dup(list_, k.c_str(), value ? 1 : 0); });
        return *this;
    }
    PropertiesView &put_octets(std::string_view key, std::span<const uint8_t> value) {
        const std::string k = detail::c_text(key);
        const OctetList octets{static_cast<uint32_t>(value.size()),
                               static_cast<uint32_t>(value.size()),
                               const_cast<uint8_t *>(value.data())};
        call([&] { properties_put_OctetList_dup(list_, k.c_str(), &octets); });
        return *this;
    }
    PropertiesView &put_properties(std::string_view key, PropertiesView value) {
        const std::string k = detail::c_text(key);
        call([&] { properties_put_properties_dup(list_, k.c_str(), value.get()); });
        return *this;
    }
    ///@}

    /// Removes the first property with the key; false when there is none.
    bool remove(std::string_view key) {
        const std::string k = detail::c_text(key);
        return properties_remove_and_destroy(list_, k.c_str()) == 0;
    }

    /// Saves the list to `path` in `layout`, replacing the file in one step.
    void save(const std::string &path, Layout layout = Layout::plain) const {
        call([&] {
            switch (layout) {
                case Layout::plain:
                    properties_save(list_, path.c_str());
                    break;
                case Layout::marked:
                    properties_save_improved(list_, path.c_str());
                    break;
                case Layout::bare:
                    properties_save_without_len(list_, path.c_str());
                    break;
            }
        });
    }

    /// The list encoded (properties_encode), as bytes the caller owns.
    std::string encode() const {
        void *data = nullptr;
        uint32_t length = 0;
        call([&] {
            properties_encode(TC_Vem_Korvo2__sequence_Property_Properties, list_, &data, &length);
        });
        std::string bytes(static_cast<const char *>(data), length);
        mg_free(data);
        return bytes;
    }

  protected:
    Properties *list_;
};

/// An owned property list: made empty, loaded from a file, decoded, or
/// adopted from a header of the runtime's allocator. Move-only.
class PropertyList : public PropertiesView {
  public:
    /// A new empty list; std::bad_alloc when memory is exhausted.
    PropertyList() : PropertiesView(properties_new()) {
        if (list_ == nullptr)
            throw std::bad_alloc();
    }
    /// Takes over `list` (a header from properties_new, properties_clone or
    /// korvo_segment_new, with everything it holds); NULL is refused with
    /// std::invalid_argument.
    static PropertyList adopt(Properties *list) {
        if (list == nullptr)
            throw std::invalid_argument("korvo::PropertyList: no list to adopt");
        return PropertyList(list);
    }
    /// The list in the property file at `path`.
    static PropertyList load(const std::string &path, Layout layout = Layout::plain) {
        PropertyList list;
        call([&] {
            switch (layout) {
                case Layout::plain:
                    properties_load(list.list_, path.c_str());
                    break;
                case Layout::marked:
                    properties_load_improved(list.list_, path.c_str());
                    break;
                case Layout::bare:
                    properties_load_without_len(list.list_, path.c_str());
                    break;
            }
        });
        return list;
    }
    /// The list that `bytes` encode (properties_decode; message 35).
    static PropertyList decode(std::span<const std::byte> bytes) {
        PropertyList list;
        call([&] {
            properties_decode(TC_Vem_Korvo2__sequence_Property_Properties, bytes.data(),
                              static_cast<uint32_t>(bytes.size()), list.list_);
        });
        return list;
    }
    /// A deep copy of any list.
    static PropertyList clone(PropertiesView list) {
        return adopt(call([&] { return properties_clone(list.get()); }));
    }

    /// Moves hand the list over; the moved-from owner holds none and may
    /// only be assigned to or destroyed. The destructor releases the list.
    ///@{
    PropertyList(PropertyList &&other) noexcept
        : PropertiesView(std::exchange(other.list_, nullptr)) {}
    PropertyList &operator=(PropertyList &&other) noexcept {
        if (this != &other) {
            destroy();
            list_ = std::exchange(other.list_, nullptr);
        }
        return *this;
    }
    PropertyList(const PropertyList &) = delete;
    PropertyList &operator=(const PropertyList &) = delete;
    ~PropertyList() { destroy(); }
    ///@}

    /// Gives the header up: the caller releases it (korvo_properties_destroy).
    Properties *release() noexcept { return std::exchange(list_, nullptr); }

  private:
    explicit PropertyList(Properties *list) noexcept : PropertiesView(list) {}
    void destroy() noexcept {
        if (list_ != nullptr) {
            properties_delete(list_);
            mg_free(list_);
        }
    }
};

/// A list of lists it does not own (a TOC's PropertiesList): its elements
/// as PropertiesView, in order.
class ListView {
  public:
    using iterator = SequenceIterator<Properties, PropertiesView>;

    /// A view of `list`, which stays its owner's.
    explicit ListView(PropertiesList *list) noexcept : list_(list) {}
    /// The C list.
    PropertiesList *get() const noexcept { return list_; }
    /// The number of elements, and whether there is none.
    ///@{
    std::size_t size() const noexcept { return list_->buffer != nullptr ? list_->length : 0; }
    bool empty() const noexcept { return size() == 0; }
    ///@}
    /// The elements in order, as PropertiesView.
    ///@{
    iterator begin() const noexcept { return iterator(list_->buffer); }
    iterator end() const noexcept { return iterator(list_->buffer + size()); }
    ///@}
    /// Element `index`; std::out_of_range beyond the end.
    PropertiesView at(std::size_t index) const {
        if (index >= size())
            throw std::out_of_range("korvo::ListView: no element " + std::to_string(index));
        return PropertiesView(&list_->buffer[index]);
    }
    /// Element `index`, unchecked.
    PropertiesView operator[](std::size_t index) const noexcept {
        return PropertiesView(&list_->buffer[index]);
    }

  protected:
    PropertiesList *list_;
};

}  // namespace korvo
