# A small FFmpeg: the demuxers, parsers and decoders of the sounds Skarvel
# measures (MP3, Ogg Vorbis/Opus, WAV, AAC, FLAC, M4A), reading files only.
SRC_PKG=ffmpeg
build() {
  mkdir -p "$BUILD" && cd "$BUILD"
  "$SRC/configure" --prefix="$PREFIX" --target-os=mingw32 --arch=x86_64 \
    --cross-prefix=$MINGW- --cc=$MINGW-gcc-posix --cxx=$MINGW-g++-posix \
    --enable-shared --disable-static --disable-programs --disable-doc --disable-debug \
    --disable-everything --disable-network --disable-autodetect --disable-avdevice \
    --disable-swscale --disable-postproc --disable-avfilter \
    --enable-avformat --enable-avcodec --enable-swresample \
    --enable-protocol=file \
    --enable-demuxer=wav,mp3,ogg,aac,flac,mov \
    --enable-parser=mpegaudio,aac,vorbis,opus,flac \
    --enable-decoder=mp3,mp3float,mp2,mp2float,vorbis,opus,aac,aac_latm,flac,alac \
    --enable-decoder=pcm_s16le,pcm_s24le,pcm_s32le,pcm_u8,pcm_f32le,pcm_f64le,pcm_alaw,pcm_mulaw,adpcm_ms,adpcm_ima_wav
  make -j"$JOBS"
  make install
}
