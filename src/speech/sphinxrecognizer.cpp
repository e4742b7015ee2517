#include "sphinxrecognizer.h"

#include <QFile>
#include <QFileInfo>
#include <pocketsphinx.h>

namespace casalux {

SphinxRecognizer::Model SphinxRecognizer::Model::installed()
{
    const QString root = QStringLiteral(CASALUX_SPHINX_MODEL);
    return {root + QLatin1String("/en-us"), root + QLatin1String("/cmudict-en-us.dict")};
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
                                   dict.constData(), "-logfn", "/dev/null", nullptr);
    if (!config) {
        m_error = QStringLiteral("pocketsphinx refused its configuration");
        return;
    }
    m_decoder = ps_init(config);
    cmd_ln_free_r(config);
    if (!m_decoder)
        m_error = QStringLiteral("pocketsphinx could not load the model");
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
    if (ps_set_jsgf_string(m_decoder, "casalux", jsgf.toUtf8().constData()) < 0 ||
        ps_set_search(m_decoder, "casalux") < 0) {
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
    if (!data.isEmpty())
        ps_process_raw(m_decoder, reinterpret_cast<const int16*>(data.constData()),
                       size_t(data.size() / 2), FALSE, fullUtterance ? TRUE : FALSE);
}

QString SphinxRecognizer::decode(const QByteArray& pcm)
{
    if (!m_decoder || !m_hasGrammar)
        return {};
    if (m_inUtterance)
        ps_end_utt(m_decoder);
    ps_start_utt(m_decoder);
    m_odd.clear();
    process(pcm, true);
    ps_end_utt(m_decoder);
    m_inUtterance = false;
    m_inSpeech = false;
    int32 score = 0;
    const char* hypothesis = ps_get_hyp(m_decoder, &score);
    return hypothesis ? QString::fromUtf8(hypothesis) : QString();
}

SphinxRecognizer::Heard SphinxRecognizer::feed(const QByteArray& pcm)
{
    Heard heard;
    if (!m_decoder || !m_hasGrammar)
        return heard;
    if (!m_inUtterance) {
        ps_start_utt(m_decoder);
        m_inUtterance = true;
    }
    process(pcm, false);
    const bool inSpeech = ps_get_in_speech(m_decoder);
    if (inSpeech && !m_inSpeech)
        heard.speechStarted = true;
    if (!inSpeech && m_inSpeech) {
        // Silence after speech: the phrase is complete.
        ps_end_utt(m_decoder);
        m_inUtterance = false;
        int32 score = 0;
        const char* hypothesis = ps_get_hyp(m_decoder, &score);
        heard.phrase = hypothesis ? QString::fromUtf8(hypothesis) : QString();
    }
    m_inSpeech = inSpeech;
    return heard;
}

} // namespace casalux
