<?xml version="1.0" encoding="UTF-8"?>
<!--
  Renders the cache client's status files (status/cs_uploading.xml,
  cs_waiting.xml, cs_uploadedtoday.xml) as pages for a person. Each status
  file names this stylesheet, so a browser shows it directly; index.html
  shows all three together.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>

  <xsl:template name="page">
    <xsl:param name="title"/>
    <xsl:param name="body"/>
    <html>
      <head>
        <meta charset="UTF-8"/>
        <title><xsl:value-of select="$title"/></title>
        <style>
          body { font-family: sans-serif; margin: 0.8em; color: #222; }
          h1 { font-size: 1.1em; margin: 0 0 0.4em 0; }
          table { border-collapse: collapse; width: 100%; }
          th, td { text-align: left; padding: 0.2em 0.6em; border-bottom: 1px solid #ddd; }
          th { background: #f0f0f0; }
          td.size { text-align: right; font-variant-numeric: tabular-nums; }
          .none { color: #777; font-style: italic; }
        </style>
      </head>
      <body>
        <h1><xsl:value-of select="$title"/></h1>
        <xsl:copy-of select="$body"/>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="/cs_uploading">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Uploading now</xsl:with-param>
      <xsl:with-param name="body">
        <xsl:choose>
          <xsl:when test="file/path">
            <p class="current"><xsl:value-of select="file/path"/></p>
          </xsl:when>
          <xsl:otherwise><p class="none">Nothing is being uploaded.</p></xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="/cs_waiting">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Waiting (<xsl:value-of select="count(file)"/>)</xsl:with-param>
      <xsl:with-param name="body">
        <xsl:choose>
          <xsl:when test="file">
            <table>
              <tr><th>Folder or file</th><th>Policy</th></tr>
              <xsl:for-each select="file">
                <tr><td><xsl:value-of select="path"/></td><td><xsl:value-of select="policy"/></td></tr>
              </xsl:for-each>
            </table>
          </xsl:when>
          <xsl:otherwise><p class="none">Nothing is waiting.</p></xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="/cs_uploadedtoday">
    <xsl:variable name="d" select="@date"/>
    <xsl:call-template name="page">
      <xsl:with-param name="title">
        <xsl:text>Uploaded on </xsl:text>
        <xsl:value-of select="concat(substring($d, 1, 4), '-', substring($d, 5, 2), '-', substring($d, 7, 2))"/>
        <xsl:text> (UTC): </xsl:text>
        <xsl:value-of select="count(file)"/>
        <xsl:text> files, </xsl:text>
        <xsl:value-of select="sum(file/@size[. != ''])"/>
        <xsl:text> bytes</xsl:text>
      </xsl:with-param>
      <xsl:with-param name="body">
        <xsl:choose>
          <xsl:when test="file">
            <table>
              <tr><th>Time (UTC)</th><th>File</th><th>Size (bytes)</th></tr>
              <xsl:for-each select="file">
                <xsl:sort select="@time" order="descending"/>
                <tr>
                  <td><xsl:value-of select="@time"/></td>
                  <td><xsl:value-of select="path"/></td>
                  <td class="size"><xsl:value-of select="@size"/></td>
                </tr>
              </xsl:for-each>
            </table>
          </xsl:when>
          <xsl:otherwise><p class="none">Nothing uploaded today.</p></xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>
</xsl:stylesheet>
