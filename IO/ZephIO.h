#pragma once
/// \file
/// Umbrella header: every public header of libZephIO.

// Contracts, locks and exceptions
#include "IO/IRefCountable.h"
#include "IO/ILockable.h"
#include "IO/LockImpl.h"
#include "IO/AutoLock.h"
#include "IO/Exception.h"
#include "IO/DescribeException.h"
#include "IO/IByteDataInput.h"
#include "IO/IByteDataOutput.h"
#include "IO/IDataInput.h"
#include "IO/IDataOutput.h"
#include "IO/IByteDataInputEx.h"
#include "IO/IByteDataOutputEx.h"
#include "IO/IByteDataInputOutput.h"
#include "IO/IDataAvailableHandler.h"
#include "IO/IWorkerEndHandler.h"
#include "IO/INotifyingByteDataInput.h"
#include "IO/IDataChannel.h"
#include "IO/IByteDataInputProtocol.h"
#include "IO/IByteDataOutputProtocol.h"

// Seekable streams and stream helpers
#include "IO/KorvelIO/DataInputMemory.h"
#include "IO/KorvelIO/DataInputString.h"
#include "IO/KorvelIO/DataOutputString.h"
#include "IO/KorvelIO/DataInputFile.h"
#include "IO/KorvelIO/DataOutputFile.h"
#include "IO/KorvelIO/DataInputFF.h"
#include "IO/KorvelIO/DataOutputFF.h"
#include "IO/StreamToBuffer.h"
#include "IO/MD5Generate.h"

// Bit-level I/O
#include "IO/KorvelIO/DataBitInput.h"
#include "IO/KorvelIO/DataBitOutput.h"

// Pipes, protocols, IPC names, duplex pipe, standard-stream adapters
#include "IO/KorvelIO/PipeHandle.h"
#include "IO/KorvelIO/PipeOptions.h"
#include "IO/KorvelIO/Protocols/ByteDataInputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataInputRawProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputDefaultProtocol.h"
#include "IO/KorvelIO/Protocols/ByteDataOutputRawProtocol.h"
#include "IO/KorvelIO/DataInputPipe.h"
#include "IO/KorvelIO/DataOutputPipe.h"
#include "IO/KorvelIO/IPCTools.h"
#include "IO/KorvelIO/DataInputOutputPipe.h"
#include "IO/KorvelIO/DataStdInput.h"
#include "IO/KorvelIO/DataStdOutput.h"

// Communication channel
#include "IO/KorvelIO/ChannelOptions.h"
#include "IO/KorvelIO/CommunicationChannel.h"
#include "IO/KorvelIO/DataAvailableDescriptor.h"

// Platform queries
#include "IO/KorvelIO/DeviceUtils.h"
#include "IO/KorvelIO/PlatformUtils.h"
