# Compiler settings shared by every target of the project.

if(ORRIN_TARN_SANITIZE AND ORRIN_TARN_TSAN)
    message(FATAL_ERROR "ORRIN_TARN_SANITIZE and ORRIN_TARN_TSAN cannot be combined")
endif()

if(ORRIN_TARN_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
if(ORRIN_TARN_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()
# The sanitizers' instrumentation makes the optimiser's may-be-uninitialized analysis report
# library code it cannot follow (inlined signal-slot internals, for one); the sanitizers themselves
# check the real thing at run time.
if((ORRIN_TARN_SANITIZE OR ORRIN_TARN_TSAN) AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
endif()

# Warnings are errors in the project's own code. Generated code (protobuf, gRPC, moc) is built
# in separate targets without this, and its headers are included as system headers.
function(orrin_tarn_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
        -Wno-missing-field-initializers -Werror)
endfunction()

# Compiles .proto files into a static library of generated classes. The generated headers are
# exposed as system headers so that the project's warnings do not apply to them.
# SHARED builds a shared library instead: needed when the classes are used by more than one
# module of a process (a shared library and the program linking it), because protobuf refuses
# to register the same .proto file twice.
#   orrin_tarn_proto_library(NAME target PROTOS a.proto ... [GRPC] [SHARED] [IMPORT_DIRS dir ...])
function(orrin_tarn_proto_library)
    cmake_parse_arguments(ARG "GRPC;SHARED" "NAME" "PROTOS;IMPORT_DIRS;LINK" ${ARGN})
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}_gen)
    file(MAKE_DIRECTORY ${out})
    set(kind STATIC)
    if(ARG_SHARED)
        set(kind SHARED)
    endif()
    add_library(${ARG_NAME} ${kind} ${ARG_PROTOS})
    set(import_dirs ${CMAKE_CURRENT_SOURCE_DIR} ${ARG_IMPORT_DIRS})
    protobuf_generate(TARGET ${ARG_NAME} LANGUAGE cpp
        PROTOC_OUT_DIR ${out} APPEND_PATH IMPORT_DIRS ${import_dirs})
    if(ARG_GRPC)
        protobuf_generate(TARGET ${ARG_NAME} LANGUAGE grpc
            GENERATE_EXTENSIONS .grpc.pb.h .grpc.pb.cc
            PLUGIN "protoc-gen-grpc=$<TARGET_FILE:gRPC::grpc_cpp_plugin>"
            PROTOC_OUT_DIR ${out} APPEND_PATH IMPORT_DIRS ${import_dirs})
        target_link_libraries(${ARG_NAME} PUBLIC gRPC::grpc++)
    endif()
    target_include_directories(${ARG_NAME} SYSTEM PUBLIC ${out} ${Protobuf_INCLUDE_DIRS})
    target_link_libraries(${ARG_NAME} PUBLIC protobuf::libprotobuf ${ARG_LINK})
endfunction()
