# The external transfer tools driven by OssUploader and UrlDownloader. Their
# working parts (argument decoder, message writer, signer, the download and the
# upload) sit in one library that the tests link too.
set(transfer_dir ${CMAKE_CURRENT_SOURCE_DIR}/transfer)
# The tools are named "*.exe" on every platform; Windows adds the suffix itself.
if(WIN32)
  set(transfer_tool_suffix "")
else()
  set(transfer_tool_suffix ".exe")
endif()

add_library(transfer_tool_support STATIC
  ${transfer_dir}/argument_decoder.cpp ${transfer_dir}/argument_decoder.h
  ${transfer_dir}/message_writer.cpp ${transfer_dir}/message_writer.h
  ${transfer_dir}/aws_signer.cpp ${transfer_dir}/aws_signer.h
  ${transfer_dir}/http_download.cpp ${transfer_dir}/http_download.h
  ${transfer_dir}/part_meta.cpp ${transfer_dir}/part_meta.h
  ${transfer_dir}/s3_upload.cpp ${transfer_dir}/s3_upload.h
  ${transfer_dir}/s3_answer.cpp ${transfer_dir}/s3_answer.h
  ${transfer_dir}/verbatim_http_reply.cpp ${transfer_dir}/verbatim_http_reply.h
  ${transfer_dir}/http_answer_reader.cpp ${transfer_dir}/http_answer_reader.h
  ${transfer_dir}/verbatim_network_manager.cpp ${transfer_dir}/verbatim_network_manager.h
  ${transfer_dir}/tool_main.cpp ${transfer_dir}/tool_main.h
  ${transfer_dir}/file_sync.h)
if(WIN32)
  target_sources(transfer_tool_support PRIVATE ${transfer_dir}/file_sync_win.cpp)
else()
  target_sources(transfer_tool_support PRIVATE ${transfer_dir}/file_sync_posix.cpp)
endif()
target_include_directories(transfer_tool_support PUBLIC ${transfer_dir})
target_link_libraries(transfer_tool_support PUBLIC Qt5::Core Qt5::Network)
target_link_libraries(transfer_tool_support PRIVATE transfer_argument_key certificate_refusal)

add_executable(pvl_downloader ${transfer_dir}/downloader_main.cpp)
target_link_libraries(pvl_downloader PRIVATE transfer_tool_support)
set_target_properties(pvl_downloader PROPERTIES OUTPUT_NAME "pvl_downloader${transfer_tool_suffix}")

add_executable(pvl_uploader ${transfer_dir}/uploader_main.cpp)
target_link_libraries(pvl_uploader PRIVATE transfer_tool_support)
set_target_properties(pvl_uploader PROPERTIES OUTPUT_NAME "pvl_uploader${transfer_tool_suffix}")
