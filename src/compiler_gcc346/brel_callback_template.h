#pragma once
// callback2<R, A1, A2>: a small copyable value binding an object and one of its two-argument member
// functions, so that code can call back into a class it does not know.
//
// The member-function pointer is kept as opaque bytes and a plain function, impl<T, M>::call, made when
// the callback is bound, restores its type. Copies are bitwise and call the same object; the callback
// owns nothing, so the object must outlive every copy that may still be called. Calling an unbound
// callback is reported and returns a value-initialised R without calling anything.

#include <cstring>
#include <type_traits>

#include "src/brel_memory.h"

namespace brel {

template <class R, class A1, class A2> class callback2 {
public:
    callback2() : _obj(0), _method(), _call(0) {}

    template <class T, class M>
    callback2(T* object, M method)
        : _obj(const_cast<std::remove_const_t<T>*>(object)), _method(), _call(&impl<T, M>::call) {
        static_assert(std::is_member_function_pointer_v<M>, "callback2 binds a member function");
        static_assert(sizeof(M) <= sizeof(_method), "member-function pointer larger than its storage");
        std::memcpy(_method, &method, sizeof(M));
    }

    R operator()(A1 a1, A2 a2) const {
        if (!mac::check(_call != 0, "_call != 0", "src/compiler_gcc346/brel_callback_template", 51)) {
            if constexpr (std::is_void_v<R>)
                return;
            else
                return R{};
        }
        return _call(this, a1, a2);
    }

    bool is_bound() const { return _call != 0; }
    // The object a call reaches: lets an owner find and withdraw the callbacks it registered.
    const void* object() const { return _obj; }

    template <class T, class M> struct impl {
        static R call(const void* self, A1 a1, A2 a2) {
            const callback2* cb = static_cast<const callback2*>(self);
            M method;
            std::memcpy(&method, cb->_method, sizeof(M));
            return (static_cast<T*>(cb->_obj)->*method)(a1, a2);
        }
    };

private:
    // The widest member-function pointer: that of a class whose inheritance is unknown.
    class unknown;
    using widest_method = void (unknown::*)();

    void* _obj;
    alignas(widest_method) unsigned char _method[sizeof(widest_method)];
    R (*_call)(const void* self, A1, A2);
};

} // namespace brel
