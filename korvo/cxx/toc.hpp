// korvo C++ interface: TOCs. korvo::Toc owns a distribution's table of
// contents, the PropertiesList of segment descriptions that net streams
// take, and builds it with the korvo_toc_ functions.
//
//   korvo::Toc toc = korvo::Toc::load("dist.toc");
//   for (korvo::PropertiesView segment : toc)
//       std::cout << segment.get_string(SEGMENT_ID_KEY) << '\n';
//   toc.add_segment("notes.txt", "1", 20).put_string(SEGMENT_LOCATION_KEY, "/srv/notes.txt");
//
// Ownership: views of segments point into the TOC's buffer and stay valid
// until the next append or the TOC's end.
// Threads: a TOC is used by one thread at a time.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "korvo/cxx/error.hpp"
#include "korvo/cxx/properties.hpp"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "records/korvo_toc_builder.h"

namespace korvo {

/// An owned TOC. Move-only.
class Toc : public ListView {
  public:
    /// An empty TOC; std::bad_alloc when memory is exhausted.
    Toc() : ListView(properties_list_new()) {
        if (list_ == nullptr)
            throw std::bad_alloc();
    }
    /// The TOC of a TOC file ("j_toc" in a plain property file).
    static Toc load(const std::string &path) {
        return adopt(call([&] { return korvo_toc_load(path.c_str()); }));
    }
    /// Takes over `list` (a header of the runtime's allocator with
    /// everything it holds); NULL is refused with std::invalid_argument.
    static Toc adopt(PropertiesList *list) {
        if (list == nullptr)
            throw std::invalid_argument("korvo::Toc: no list to adopt");
        return Toc(list);
    }
    /// A deep copy of any list of segments.
    static Toc clone(ListView list) {
        return adopt(call([&] { return properties_list_clone(list.get()); }));
    }

    /// Moves hand the TOC over; the moved-from owner holds none and may
    /// only be assigned to or destroyed. The destructor releases it.
    ///@{
    Toc(Toc &&other) noexcept : ListView(std::exchange(other.list_, nullptr)) {}
    Toc &operator=(Toc &&other) noexcept {
        if (this != &other) {
            korvo_toc_destroy(list_);
            list_ = std::exchange(other.list_, nullptr);
        }
        return *this;
    }
    Toc(const Toc &) = delete;
    Toc &operator=(const Toc &) = delete;
    ~Toc() { korvo_toc_destroy(list_); }
    ///@}

    /// Appends a segment with "id", "version", "size" and "offset" 0 and
    /// returns it. std::invalid_argument for a negative size.
    PropertiesView add_segment(std::string_view id, std::string_view version, int32_t size) {
        const std::string i = detail::c_text(id), v = detail::c_text(version);
        Properties *segment =
            call([&] { return korvo_toc_add_segment(list_, i.c_str(), v.c_str(), size); });
        if (segment == nullptr)
            throw std::invalid_argument("korvo::Toc: a segment's size cannot be negative");
        return PropertiesView(segment);
    }
    /// Moves the properties of `segment` into a new last element; `segment`
    /// is left empty.
    PropertiesView append(PropertyList &&segment) {
        return element(call([&] { return korvo_toc_append(list_, segment.get()); }));
    }
    /// Appends a copy of `segment`.
    PropertiesView append(PropertiesView segment) {
        return element(call([&] { return korvo_toc_append_dup(list_, segment.get()); }));
    }
    /// Writes the TOC file at `path`, replacing it in one step.
    void save(const std::string &path) const {
        call([&] { korvo_toc_save(list_, path.c_str()); });
    }
    /// The sum of the segments' "size" values (0 for a segment without one).
    int64_t total_size() const {
        int64_t total = 0;
        for (PropertiesView segment : *this)
            total += segment.get_long(SEGMENT_SIZE_KEY, 0);
        return total;
    }

    /// Gives the header up: the caller releases it (korvo_toc_destroy).
    PropertiesList *release() noexcept { return std::exchange(list_, nullptr); }

  private:
    explicit Toc(PropertiesList *list) noexcept : ListView(list) {}
    // The element an append returned the index of; -1 is a refused append
    // (a segment of this TOC itself, or a moved-from list).
    PropertiesView element(int32_t index) {
        if (index < 0)
            throw std::invalid_argument("korvo::Toc: this list cannot be appended");
        return PropertiesView(&list_->buffer[index]);
    }
};

}  // namespace korvo
