// The archive stream seen across the volumes of a set (internal to the
// library): reads that reach the end of a volume go on at the start of the
// next one; positions are those of the volume currently open.
#pragma once

#include "arcfold/exception.h"
#include "arcfold/stream.h"
#include "volumes/volume_source.h"

namespace arcfold {

class TVolumeReader : public TStream {
 public:
  explicit TVolumeReader(TAFVolumeSource& volumes) : volumes_(volumes) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void*, int64_t) override { throw EWriteError("A volume set is read here, not written"); }
  int64_t Seek(int64_t offset, SeekOrigin origin) override { return Current().Seek(offset, origin); }
  int64_t Size() override { return Current().Size(); }
  void SetSize(int64_t) override { throw EWriteError("A volume set is read here, not written"); }

 private:
  TStream& Current();
  TAFVolumeSource& volumes_;
};

}  // namespace arcfold
