// The small object model the component's classes share: a root class that knows its own class
// name, the assignable base class, and the run-time errors its operations raise. Class names
// appear in messages (the refusal of an assignment names both classes), so every class that can
// be assigned reports its own.
#pragma once

#include <stdexcept>
#include <string>

namespace archives {

class TObject {
public:
    virtual ~TObject() = default;
    virtual std::string ClassName() const { return "TObject"; }

protected:
    TObject() = default;
    TObject(const TObject &) = default;
    TObject &operator=(const TObject &) = default;
};

// A value could not be converted or assigned.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A variant value has no text form (Null, a nested array).
class EVariantTypeCastError : public EConvertError {
public:
    using EConvertError::EConvertError;
};

// File-stream failures: the file could not be created, or a write fell short.
class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
// Stored settings that do not fit the object they are read into.
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// Objects that can take over the contents of another object. Assign asks the source to copy
// itself into this object (AssignTo); a pair of classes that do not know each other is refused
// with a message naming the source's class first and then the target's.
class TPersistent : public TObject {
public:
    std::string ClassName() const override { return "TPersistent"; }

    // Source may be null: that is refused too ("nil" names the missing source).
    virtual void Assign(const TPersistent *Source);
    void Assign(const TPersistent &Source) { Assign(&Source); }

protected:
    TPersistent() = default;
    TPersistent(const TPersistent &) = default;
    TPersistent &operator=(const TPersistent &) = default;

    virtual void AssignTo(TPersistent &Dest) const;
    // Raises the refusal for assigning Source to this object.
    [[noreturn]] void AssignError(const TPersistent *Source) const;
    // Lets a class call AssignTo on another object (it is protected in TPersistent).
    static void CallAssignTo(const TPersistent &Source, TPersistent &Dest) {
        Source.AssignTo(Dest);
    }
};

} // namespace archives
