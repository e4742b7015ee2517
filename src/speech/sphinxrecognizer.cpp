#include "sphinxrecognizer.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <pocketsphinx.h>
#include <utility>

namespace casalux {

namespace {

constexpr const char* grammarSearch = "casalux";
constexpr const char* phoneSearch = "phones";
// 16 kHz, 100 frames a second, 2 bytes a sample.
constexpr qsizetype bytesPerFrame = 160 * 2;
// An utterance with no speech in it starts afresh after this long (3 s): the
// sound kept for judging stays small, and a long pause before a phrase does
// not water down its score per frame.
constexpr qsizetype longestSilence = 3 * 100 * bytesPerFrame;

} // namespace

SphinxRecognizer::Model SphinxRecognizer::Model::installed()
{
    const QString root = QStringLiteral(CASALUX_SPHINX_MODEL);
    return {root + QLatin1String("/en-us"), root + QLatin1String("/cmudict-en-us.dict"),
            root + QLatin1String("/en-us-phone.lm.bin")};
}

SphinxRecognizer::SphinxRecognizer(const Model& model)
{
    if (!QFileInfo(model.acoustic).isDir() || !QFileInfo(model.dictionary).isFile()) {
        m_error = QStringLiteral("speech model not found at %1").arg(model.acoustic);
        return;
    }
    QFile dictionary(model.dictionary);
    if (!dictionary.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read %1").arg(model.dictionary);
        return;
    }
    // Lines are "word PH O N E S"; alternatives are written "word(2)".
    while (!dictionary.atEnd()) {
        const QByteArray line = dictionary.readLine();
        qsizetype end = line.indexOf(' ');
        if (const qsizetype paren = line.indexOf('('); paren > 0 && (end < 0 || paren < end))
            end = paren;
        if (end > 0)
            m_words.insert(QString::fromUtf8(line.left(end)));
    }
    const QByteArray hmm = QFile::encodeName(model.acoustic);
    const QByteArray dict = QFile::encodeName(model.dictionary);
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-dict",
                                   dict.constData(), "-logfn", "/dev/null",
                                   // Context-free phones: the free phone search that
                                   // judges each phrase then keeps up with speech
                                   // (with context it took twice as long as the sound).
                                   "-allphone_ci", "yes", nullptr);
    if (!config) {
        m_error = QStringLiteral("pocketsphinx refused its configuration");
        return;
    }
    m_decoder = ps_init(config);
    cmd_ln_free_r(config);
    if (!m_decoder) {
        m_error = QStringLiteral("pocketsphinx could not load the model");
        return;
    }
    // Without the free phone search nothing heard could be judged, and every
    // sound would be taken for a command.
    const QByteArray phones = QFile::encodeName(model.phones);
    if (!QFileInfo(model.phones).isFile() ||
        ps_set_allphone_file(m_decoder, phoneSearch, phones.constData()) < 0) {
        m_error =
            QStringLiteral("pocketsphinx could not load the phone model %1").arg(model.phones);
        ps_free(m_decoder);
        m_decoder = nullptr;
    }
}

SphinxRecognizer::~SphinxRecognizer()
{
    if (m_decoder)
        ps_free(m_decoder);
}

bool SphinxRecognizer::setGrammar(const VoiceGrammar& grammar, QStringList* leftOut)
{
    if (!m_decoder)
        return false;
    const QString jsgf = grammar.jsgf([this](const QString& w) { return knows(w); }, leftOut);
    if (jsgf.isEmpty())
        return false;
    if (m_inUtterance) {
        ps_end_utt(m_decoder);
        m_inUtterance = false;
        m_inSpeech = false;
    }
    if (ps_set_jsgf_string(m_decoder, grammarSearch, jsgf.toUtf8().constData()) < 0 ||
        ps_set_search(m_decoder, grammarSearch) < 0) {
        m_error = QStringLiteral("pocketsphinx refused the grammar");
        m_hasGrammar = false;
        return false;
    }
    m_hasGrammar = true;
    return true;
}

void SphinxRecognizer::process(const QByteArray& pcm, bool fullUtterance)
{
    QByteArray data = m_odd + pcm;
    m_odd.clear();
    if (data.size() % 2) {
        m_odd = data.right(1);
        data.chop(1);
    }
    if (data.isEmpty())
        return;
    if (!fullUtterance)
        m_utterance += data;
    ps_process_raw(m_decoder, reinterpret_cast<const int16*>(data.constData()),
                   size_t(data.size() / 2), FALSE, fullUtterance ? TRUE : FALSE);
}

int SphinxRecognizer::decodeSpan(const QByteArray& audio)
{
    ps_start_utt(m_decoder);
    ps_process_raw(m_decoder, reinterpret_cast<const int16*>(audio.constData()),
                   size_t(audio.size() / 2), FALSE, TRUE);
    ps_end_utt(m_decoder);
    int32 score = 0;
    ps_get_hyp(m_decoder, &score);
    return score;
}

SphinxRecognizer::Result SphinxRecognizer::judge(const QByteArray& audio)
{
    int32 score = 0;
    const char* hypothesis = ps_get_hyp(m_decoder, &score);
    const int frames = ps_get_n_frames(m_decoder);
    if (!hypothesis || !*hypothesis || frames <= 0)
        return {};
    Result heard{QString::fromUtf8(hypothesis), 0};
    ps_set_search(m_decoder, phoneSearch);
    const int32 free = decodeSpan(audio);
    ps_set_search(m_decoder, grammarSearch);
    heard.confidence = double(score - free) / frames;
    return heard;
}

SphinxRecognizer::Result SphinxRecognizer::decode(const QByteArray& pcm)
{
    if (!m_decoder || !m_hasGrammar)
        return {};
    if (m_inUtterance)
        ps_end_utt(m_decoder);
    m_inUtterance = false;
    m_inSpeech = false;
    m_odd.clear();
    m_utterance.clear();
    QByteArray audio = pcm;
    if (audio.size() % 2)
        audio.chop(1);
    decodeSpan(audio);
    return judge(audio);
}

SphinxRecognizer::Heard SphinxRecognizer::feed(const QByteArray& pcm)
{
    Heard heard;
    if (!m_decoder || !m_hasGrammar)
        return heard;
    if (!m_inUtterance) {
        ps_start_utt(m_decoder);
        m_inUtterance = true;
        m_utterance.clear();
    }
    process(pcm, false);
    const bool inSpeech = ps_get_in_speech(m_decoder);
    if (inSpeech && !m_inSpeech)
        heard.speechStarted = true;
    if (!inSpeech && m_inSpeech) {
        // Silence after speech: the phrase is complete.
        ps_end_utt(m_decoder);
        m_inUtterance = false;
        const QByteArray audio = std::exchange(m_utterance, {});
        heard.result = judge(audio);
    } else if (!inSpeech && m_utterance.size() > longestSilence) {
        ps_end_utt(m_decoder);
        m_inUtterance = false;
        m_utterance.clear();
    }
    m_inSpeech = inSpeech;
    return heard;
}

} // namespace casalux
